// Dialog units: the font-relative measure in which the dialog template is laid
// out, converted to pixels the way Windows maps a dialog template.
#pragma once

#include <QFont>
#include <QRect>

namespace orvane::app {

// Pixels per four horizontal and per eight vertical dialog units.
struct DialogBaseUnits {
  int x = 0;  // rounded average width of the letters A-Z and a-z
  int y = 0;  // height of the font
  bool operator==(const DialogBaseUnits&) const = default;
};

// The base units of `font` on the default screen.
DialogBaseUnits BaseUnitsOf(const QFont& font);

// Converts a rectangle in dialog units to pixels: x * base.x / 4 and
// y * base.y / 8, each rounded to the nearest pixel, halves away from zero.
QRect MapDialogRect(const QRect& units, DialogBaseUnits base);

}  // namespace orvane::app
