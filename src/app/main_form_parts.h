#pragma once

// Helpers shared by the files that make up TMainForm (main_form*.cpp, one per concern); not
// meant for other users.

#include <QFont>
#include <QString>

#include <filesystem>

#include "app/glyphs.h"

#include <QKeySequence>
#include <QList>

class QAction;
class QAbstractButton;
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

// Gives `action` its keyboard shortcuts (shown in its menu) and appends the first one to the
// hint of the tool button that shares its handler, e.g. "開く (Ctrl+O)".
void SetShortcuts(QAction* action, const QList<QKeySequence>& keys,
                  QAbstractButton* button = nullptr);

// Gives a button without a menu item its shortcuts, active anywhere in `window`; each clicks
// the button, which does nothing while it is disabled. The hint shows the first.
void SetButtonShortcuts(QWidget* window, QAbstractButton* button, const QList<QKeySequence>& keys);

}  // namespace mainform
