#pragma once

#include <QIcon>

// The 20 x 20 pictures of the tool-bar buttons, drawn in code.
enum class TGlyph {
  Open,
  Close,
  Reopen,
  Save,
  SaveAs,
  ZoomIn,
  ZoomOut,
  SelectAll,
  SelectByNumber,
  SelectLast,
  DetectSelection
};

QIcon MakeGlyph(TGlyph glyph);
