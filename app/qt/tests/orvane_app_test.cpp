#include "app/qt/orvane_app.h"

#include <QDialog>
#include <QTest>
#include <QTimer>

namespace orvane::app {

class OrvaneAppTest : public QObject {
  Q_OBJECT

 private slots:
  void TheIconComesInEveryShippedSize() {
    const QList<QSize> sizes = ApplicationIcon().availableSizes();
    for (int size : {16, 24, 32, 48, 256}) {
      QVERIFY2(sizes.contains(QSize(size, size)), qPrintable(QString::number(size)));
    }
  }

  // InitInstance shows the main dialog and returns false once it is closed.
  void InitInstanceRunsTheDialogUntilItIsClosed() {
    QString title;
    QTimer::singleShot(0, [&] {
      for (QWidget* window : QApplication::topLevelWidgets()) {
        if (!window->isVisible()) continue;
        title = window->windowTitle();
        window->close();
      }
    });
    auto* app = static_cast<COrvaneApp*>(QCoreApplication::instance());
    QVERIFY(!app->InitInstance());
    QCOMPARE(title, QStringLiteral("Orvane Conversion"));
    QVERIFY(!app->windowIcon().isNull());
    QCOMPARE(QApplication::applicationName(), QStringLiteral("Orvane"));
  }
};

}  // namespace orvane::app

// The application object is the program's own, so the test provides main.
int main(int argc, char** argv) {
  orvane::app::COrvaneApp app(argc, argv);
  orvane::app::OrvaneAppTest test;
  return QTest::qExec(&test, argc, argv);
}
#include "orvane_app_test.moc"
