// The folder picker the dialog opens from its Select Folder button.
#pragma once

#include <QList>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <functional>

class QFileDialog;

namespace orvane::app {

class FolderPicker {
 public:
  // Receives the location the user chose. It may be a remote one, without a
  // local file-system path.
  using ChoiceHandler = std::function<void(const QUrl& choice)>;

  virtual ~FolderPicker() = default;
  // Opens a picker titled `title` and returns at once, leaving every other
  // window usable. `on_chosen` runs when the user confirms a choice, never
  // when they cancel. Several pickers may be open at the same time.
  virtual void Open(const QString& title, ChoiceHandler on_chosen) = 0;
};

// Opens a file dialog in folder mode with no parent and no modality. The
// pickers still open are closed when this object is destroyed.
class FileDialogPicker : public FolderPicker {
 public:
  FileDialogPicker() = default;
  ~FileDialogPicker() override;
  FileDialogPicker(const FileDialogPicker&) = delete;
  FileDialogPicker& operator=(const FileDialogPicker&) = delete;

  void Open(const QString& title, ChoiceHandler on_chosen) override;

 private:
  QList<QPointer<QFileDialog>> open_;
};

}  // namespace orvane::app
