#include "app/qt/folder_picker.h"

#include <QDir>
#include <QFileDialog>

namespace orvane::app {

FileDialogPicker::~FileDialogPicker() {
  for (const QPointer<QFileDialog>& dialog : open_) delete dialog.data();
}

void FileDialogPicker::Open(const QString& title, ChoiceHandler on_chosen) {
  open_.removeAll(nullptr);
  auto* dialog = new QFileDialog(nullptr, title, QDir::homePath());
  dialog->setFileMode(QFileDialog::Directory);
  dialog->setOption(QFileDialog::ShowDirsOnly);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  // Read on acceptance, before the dialog deletes itself; the same for Qt's own
  // dialog and for the desktop's native one.
  QObject::connect(dialog, &QDialog::accepted, dialog, [dialog, on_chosen = std::move(on_chosen)] {
    const QList<QUrl> urls = dialog->selectedUrls();
    if (!urls.isEmpty()) on_chosen(urls.first());
  });
  open_.append(dialog);
  dialog->show();
}

}  // namespace orvane::app
