#include "app/qt/dialog_units.h"

#include <QTest>

namespace orvane::app {

class DialogUnitsTest : public QObject {
  Q_OBJECT

 private slots:
  void MapsRectanglesAndRoundsHalvesUp_data() {
    QTest::addColumn<int>("bx");
    QTest::addColumn<int>("by");
    QTest::addColumn<QRect>("units");
    QTest::addColumn<QRect>("pixels");
    // 6 x 13 are the base units of MS Shell Dlg 8 pt at 96 dpi.
    QTest::newRow("dialog") << 6 << 13 << QRect(0, 0, 320, 200) << QRect(0, 0, 480, 325);
    QTest::newRow("folder text") << 6 << 13 << QRect(10, 35, 230, 14) << QRect(15, 57, 345, 23);
    QTest::newRow("halves up") << 7 << 15 << QRect(10, 60, 100, 14) << QRect(18, 113, 175, 26);
    QTest::newRow("zero units") << 0 << 0 << QRect(10, 10, 100, 14) << QRect(0, 0, 0, 0);
  }

  void MapsRectanglesAndRoundsHalvesUp() {
    QFETCH(int, bx);
    QFETCH(int, by);
    QFETCH(QRect, units);
    QFETCH(QRect, pixels);
    QCOMPARE(MapDialogRect(units, {bx, by}), pixels);
  }
};

}  // namespace orvane::app

QTEST_MAIN(orvane::app::DialogUnitsTest)
#include "dialog_units_test.moc"
