// The main dialog: a button to choose the folder, a line that shows it, a
// button that converts every caption file in it, and the check boxes that
// choose the transcript style, whether web pages are written too and which
// caption formats are converted.
#pragma once

#include <QDialog>
#include <QList>
#include <QString>
#include <memory>

#include "app/qt/folder_picker.h"
#include "app/qt/message_service.h"
#include "conversion/transcriber.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QUrl;

namespace orvane::app {

class OrvaneDlg : public QDialog {
  Q_OBJECT

 public:
  // A null `picker` or `messages` stands for the real file dialog and message
  // boxes; tests pass their own.
  explicit OrvaneDlg(std::unique_ptr<FolderPicker> picker = nullptr,
                     std::unique_ptr<MessageService> messages = nullptr);
  ~OrvaneDlg() override;

  // Shows the dialog and returns its result once Escape, the close box or
  // done() ends it. Unlike QDialog::exec() it blocks no other window, so the
  // folder pickers and the dialog stay usable side by side.
  int DoModal();

  // Creates the controls of the dialog template. Returns true.
  bool OnInitDialog();
  // Opens a folder picker and returns at once; the choice is stored when the
  // user confirms it, unless it has no local path.
  void OnSelectFolder();
  // Converts the stored folder into transcripts of transcriptStyle(), with a
  // web page beside each while Also write a web page... is ticked and its
  // SubRip and SBV files too while Also convert SubRip... is, showing each
  // message of the run; the window does not respond until the run ends.
  void OnProcessFiles();

  // The last folder chosen with a local path; empty before the first.
  const QString& folderPath() const { return m_strFolderPath; }
  // The style of the ticked boxes: kDefault with none, kClean with Clean
  // transcripts, kParagraphs with Join lines into paragraphs too, and
  // kTimedParagraphs with Start each paragraph with its time as well.
  TranscriptStyle transcriptStyle() const;

 protected:
  void changeEvent(QEvent* event) override;

 private:
  void OnFolderChosen(const QUrl& choice);
  // Places the window and its controls from the template, in pixels of the
  // current font.
  void ApplyTemplateLayout();
  // The check box with resource id `id`.
  QCheckBox* Box(int id) const;
  // Enables each box that depends on another while that one is ticked, and
  // unticks and disables it otherwise.
  void UpdateDependentBoxes();

  QString m_strFolderPath;
  std::unique_ptr<FolderPicker> picker_;
  std::unique_ptr<MessageService> messages_;
  QPushButton* select_folder_ = nullptr;
  QLabel* folder_path_ = nullptr;
  QPushButton* process_files_ = nullptr;
  // The check boxes, in the order of the template.
  QList<QCheckBox*> check_boxes_;
};

}  // namespace orvane::app
