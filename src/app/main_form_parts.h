#pragma once

// Helpers shared by the files that make up TMainForm (main_form*.cpp, one per concern); not
// meant for other users.

#include <QFont>
#include <QString>

#include <filesystem>

#include "app/glyphs.h"

class QAction;
class QMenu;
class QObject;
class QToolButton;
class QWidget;

namespace mainform {

// The window's caption without a document.
extern const QString kProgramName;

std::filesystem::path ToPath(const QString& path);

// The font the window and its menus are designed for, with the fallbacks of other systems.
QFont DesignedFont();

// Appends an item named `name` to `menu`; `owner` owns it.
QAction* AddMenuAction(QObject* owner, QMenu* menu, const char* name, const QString& caption);

// A flat, unfocusable 23 x 23 button of the tool bar `panel` at `x`.
QToolButton* AddToolButton(QWidget* panel, const char* name, const QString& hint, int x,
                           TGlyph glyph);

}  // namespace mainform
