#include "app/glyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygonF>

namespace {

void DrawFloppy(QPainter& p) {
  p.setPen(QPen(QColor(20, 40, 110), 1));
  p.setBrush(QColor(60, 90, 180));
  p.drawRect(2, 2, 15, 15);
  p.setBrush(QColor(235, 235, 235));
  p.drawRect(5, 2, 9, 6);
  p.setBrush(QColor(200, 200, 210));
  p.drawRect(5, 11, 9, 6);
  p.fillRect(11, 3, 2, 4, QColor(60, 90, 180));
}

void DrawMagnifier(QPainter& p, bool plus) {
  p.setPen(QPen(QColor(40, 40, 40), 2));
  p.setBrush(QColor(220, 240, 255));
  p.drawEllipse(2, 2, 11, 11);
  p.setPen(QPen(QColor(90, 60, 20), 3, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(13, 13, 17, 17);
  p.setPen(QPen(QColor(20, 20, 20), 2));
  p.drawLine(5, 8, 10, 8);
  if (plus) p.drawLine(8, 5, 8, 11);
}

// A green arrow running round `arc` from `startDegrees` through `spanDegrees`, its head the
// triangle `head`: "again".
void DrawTurningArrow(QPainter& p, const QRectF& arc, int startDegrees, int spanDegrees,
                      const QPolygonF& head) {
  const QColor green(30, 120, 40);
  p.setPen(QPen(green, 2));
  p.setBrush(Qt::NoBrush);
  p.drawArc(arc, startDegrees * 16, spanDegrees * 16);
  p.setPen(Qt::NoPen);
  p.setBrush(green);
  p.drawPolygon(head);
}

// The dashed frame of a selection, filled with `fill`, drawn without smoothing.
void DrawSelectionFrame(QPainter& p, const QRect& frame, const QColor& fill) {
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setPen(QPen(QColor(30, 30, 30), 1, Qt::DashLine));
  p.setBrush(fill);
  p.drawRect(frame);
}

}  // namespace

QIcon MakeGlyph(TGlyph glyph) {
  QPixmap pixmap(20, 20);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing, true);
  switch (glyph) {
    case TGlyph::Open: {
      p.setPen(QPen(QColor(120, 90, 20), 1));
      p.setBrush(QColor(240, 200, 80));
      p.drawRect(1, 5, 14, 11);
      p.drawRect(1, 3, 6, 2);
      QPainterPath flap;
      flap.moveTo(4, 8);
      flap.lineTo(19, 8);
      flap.lineTo(15, 16);
      flap.lineTo(1, 16);
      flap.closeSubpath();
      p.setBrush(QColor(250, 225, 120));
      p.drawPath(flap);
      break;
    }
    case TGlyph::Close:
      p.setPen(QPen(QColor(190, 30, 30), 3, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(4, 4, 15, 15);
      p.drawLine(15, 4, 4, 15);
      break;
    case TGlyph::Reopen:
      DrawTurningArrow(p, QRectF(3, 3, 13, 13), 60, 290, {{11, 1}, {17, 4}, {11, 8}});
      break;
    case TGlyph::Save:
      DrawFloppy(p);
      break;
    case TGlyph::SaveAs:
      DrawFloppy(p);
      p.setPen(QPen(QColor(150, 80, 0), 2, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(10, 18, 18, 10);
      break;
    case TGlyph::ZoomIn:
      DrawMagnifier(p, true);
      break;
    case TGlyph::ZoomOut:
      DrawMagnifier(p, false);
      break;
    case TGlyph::SelectAll:
      DrawSelectionFrame(p, QRect(2, 3, 15, 13), QColor(200, 220, 255));
      p.fillRect(1, 2, 3, 3, Qt::black);
      p.fillRect(16, 2, 3, 3, Qt::black);
      p.fillRect(1, 15, 3, 3, Qt::black);
      p.fillRect(16, 15, 3, 3, Qt::black);
      break;
    case TGlyph::SelectByNumber: {
      // A dashed frame with a small "12" in it: the rectangle typed in as numbers.
      DrawSelectionFrame(p, QRect(1, 2, 17, 15), QColor(255, 245, 200));
      QFont font = p.font();
      font.setPixelSize(10);
      font.setBold(true);
      p.setFont(font);
      p.setPen(QColor(20, 40, 110));
      p.drawText(QRect(2, 3, 16, 14), Qt::AlignCenter, QStringLiteral("12"));
      break;
    }
    case TGlyph::SelectLast: {
      // A dashed frame and a turning arrow: the last rectangle again.
      DrawSelectionFrame(p, QRect(1, 5, 13, 12), QColor(200, 220, 255));
      p.setRenderHint(QPainter::Antialiasing, true);
      DrawTurningArrow(p, QRectF(9, 1, 9, 9), 90, 270, {{12, 0}, {16, 2}, {12, 5}});
      break;
    }
    case TGlyph::DetectSelection: {
      // A dashed frame round scrambled specks, and a magnifier finding it.
      DrawSelectionFrame(p, QRect(1, 1, 13, 12), QColor(255, 255, 255));
      const QColor specks[] = {QColor(200, 40, 40), QColor(40, 150, 60), QColor(40, 70, 200),
                               QColor(220, 180, 30)};
      for (int i = 0; i < 9; ++i) {
        p.fillRect(3 + (i % 3) * 3 + (i / 3) % 2, 3 + (i / 3) * 3, 2, 2,
                   specks[(i * 3 + i / 3) % 4]);
      }
      p.setRenderHint(QPainter::Antialiasing, true);
      p.setPen(QPen(QColor(40, 40, 40), 2));
      p.setBrush(QColor(220, 240, 255, 160));
      p.drawEllipse(QRectF(8.5, 8.5, 7, 7));
      p.setPen(QPen(QColor(90, 60, 20), 3, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(16, 16, 18, 18);
      break;
    }
  }
  p.end();
  QIcon icon(pixmap);
  return icon;
}
