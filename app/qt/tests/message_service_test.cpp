#include "app/qt/message_service.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QWidget>

namespace orvane::app {

class MessageServiceTest : public QObject {
  Q_OBJECT

 private slots:
  // The real box: modal, warning icon, one OK button, title "Orvane", and
  // the text as it is, markup characters included.
  void ShowsAModalWarningBoxUntilOkIsPressed() {
    QWidget owner;
    owner.show();
    const QString text = QStringLiteral("Files converted to folder: /tmp/<b>a & b</b>");
    QMessageBox* seen = nullptr;
    QString title, shown;
    Qt::TextFormat format = Qt::AutoText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QList<QAbstractButton*> buttons;
    QTimer::singleShot(0, [&] {
      seen = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (seen == nullptr) return;
      title = seen->windowTitle();
      shown = seen->text();
      format = seen->textFormat();
      icon = seen->icon();
      buttons = seen->buttons();
      QTest::mouseClick(seen->button(QMessageBox::Ok), Qt::LeftButton);
    });
    // Closes a box the timer did not find, so that a failure cannot hang the test.
    QTimer::singleShot(10000, [] {
      if (QWidget* box = QApplication::activeModalWidget()) box->close();
    });

    MessageBoxService(&owner).ShowMessage(text);

    QVERIFY(seen != nullptr);
    QCOMPARE(title, QStringLiteral("Orvane"));
    QCOMPARE(shown, text);
    QCOMPARE(format, Qt::PlainText);
    QCOMPARE(icon, QMessageBox::Warning);
    QCOMPARE(buttons.size(), 1);
    QVERIFY(QApplication::activeModalWidget() == nullptr);
  }
};

}  // namespace orvane::app

QTEST_MAIN(orvane::app::MessageServiceTest)
#include "message_service_test.moc"
