#include "app/qt/folder_picker.h"

#include <QApplication>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTest>
#include <optional>

#include "app/qt/tests/open_pickers.h"

namespace orvane::app {

class FolderPickerTest : public QObject {
  Q_OBJECT

 private slots:
  void OpensFolderDialogsThatBlockNothing() {
    QTemporaryDir first;
    std::optional<QUrl> chosen;
    int calls = 0;
    FileDialogPicker picker;
    picker.Open(QStringLiteral("Pick"), [&](const QUrl& url) {
      chosen = url;
      ++calls;
    });
    QList<QFileDialog*> open = OpenPickers();
    picker.Open(QStringLiteral("Pick"), [&](const QUrl&) { ++calls; });
    for (QFileDialog* dialog : OpenPickers()) {
      if (!open.contains(dialog)) open.append(dialog);
    }
    QCOMPARE(open.size(), 2);
    for (QFileDialog* dialog : open) {
      QCOMPARE(dialog->windowTitle(), QStringLiteral("Pick"));
      QVERIFY(dialog->parentWidget() == nullptr);
      QCOMPARE(dialog->windowModality(), Qt::NonModal);
      QCOMPARE(dialog->fileMode(), QFileDialog::Directory);
    }
    QVERIFY(QApplication::activeModalWidget() == nullptr);

    // The first one confirms a folder, the second one is cancelled.
    open[0]->setDirectory(first.path());
    static_cast<QDialog*>(open[0])->accept();  // public in QDialog
    open[1]->reject();
    QCOMPARE(calls, 1);
    QVERIFY(chosen.has_value());
    QCOMPARE(chosen->toLocalFile(), first.path());
    QTRY_VERIFY(OpenPickers().isEmpty());
  }

  void ClosesPickersStillOpenWhenDestroyed() {
    bool called = false;
    {
      FileDialogPicker picker;
      picker.Open(QStringLiteral("Pick"), [&](const QUrl&) { called = true; });
      QCOMPARE(OpenPickers().size(), 1);
    }
    QVERIFY(OpenPickers().isEmpty());
    QVERIFY(!called);
  }
};

}  // namespace orvane::app

QTEST_MAIN(orvane::app::FolderPickerTest)
#include "folder_picker_test.moc"
