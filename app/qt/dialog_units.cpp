#include "app/qt/dialog_units.h"

#include <QFontMetrics>
#include <QLatin1StringView>

namespace orvane::app {
namespace {

// value * numerator / denominator, rounded half away from zero, as MulDiv does.
int MulDiv(int value, int numerator, int denominator) {
  const long long product = static_cast<long long>(value) * numerator;
  const long long half = denominator / 2;
  const long long rounded =
      product >= 0 ? (product + half) / denominator : -((-product + half) / denominator);
  return static_cast<int>(rounded);
}

}  // namespace

DialogBaseUnits BaseUnitsOf(const QFont& font) {
  static constexpr QLatin1StringView kLetters(
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  const QFontMetrics metrics(font);
  // Windows takes the width of all 52 letters and rounds its average in integers.
  const int width = metrics.horizontalAdvance(QString(kLetters));
  return {(width / 26 + 1) / 2, metrics.height()};
}

QRect MapDialogRect(const QRect& units, DialogBaseUnits base) {
  return QRect(MulDiv(units.x(), base.x, 4), MulDiv(units.y(), base.y, 8),
               MulDiv(units.width(), base.x, 4), MulDiv(units.height(), base.y, 8));
}

}  // namespace orvane::app
