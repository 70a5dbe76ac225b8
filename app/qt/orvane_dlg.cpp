#include "app/qt/orvane_dlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <algorithm>
#include <optional>
#include <string>
#include <type_traits>

#include "app/dialog_texts.h"
#include "app/qt/dialog_units.h"
#include "app/resource.h"
#include "conversion/batch_run.h"
#include "conversion/page.h"
#include "platform/platform.h"

namespace orvane::app {
namespace {

// The dialog template IDD_MAIN_DIALOG, in dialog units.
constexpr QSize kDialogSize = QRect(ORVANE_DIALOG_RECT).size();
constexpr QRect kSelectFolderRect(ORVANE_SELECT_FOLDER_RECT);
constexpr QRect kFolderPathRect(ORVANE_FOLDER_PATH_RECT);
constexpr QRect kProcessFilesRect(ORVANE_PROCESS_FILES_RECT);

// The check boxes of the template, in tab order.
struct CheckBoxTemplate {
  int id;
  const char* name;
  const char* text;
  QRect rect;
};
constexpr CheckBoxTemplate kCheckBoxes[] = {
    {IDC_CLEAN_TRANSCRIPTS, "IDC_CLEAN_TRANSCRIPTS", ORVANE_CLEAN_TRANSCRIPTS_TEXT,
     QRect(ORVANE_CLEAN_TRANSCRIPTS_RECT)},
    {IDC_PARAGRAPHS, "IDC_PARAGRAPHS", ORVANE_PARAGRAPHS_TEXT, QRect(ORVANE_PARAGRAPHS_RECT)},
    {IDC_TIME_STAMPS, "IDC_TIME_STAMPS", ORVANE_TIME_STAMPS_TEXT, QRect(ORVANE_TIME_STAMPS_RECT)},
    {IDC_WEB_PAGE, "IDC_WEB_PAGE", ORVANE_WEB_PAGE_TEXT, QRect(ORVANE_WEB_PAGE_RECT)},
    {IDC_ALL_FORMATS, "IDC_ALL_FORMATS", ORVANE_ALL_FORMATS_TEXT, QRect(ORVANE_ALL_FORMATS_RECT)},
};

// A check box that is enabled only while another box is ticked.
struct BoxDependency {
  int box;
  int depends_on;
};
constexpr BoxDependency kBoxDependencies[] = {ORVANE_BOX_DEPENDENCIES};

// Names a control after its resource id, so that tests and accessibility
// tools find it.
void Identify(QWidget* widget, const char* name, int id) {
  widget->setObjectName(QString::fromLatin1(name));
  widget->setProperty("controlId", id);
}

template <typename String>
String ToNativeText(const QString& text) {
  if constexpr (std::is_same_v<String, std::wstring>) {
    return text.toStdWString();
  } else {
    return QFile::encodeName(text).toStdString();
  }
}

template <typename String>
QString FromNativeText(const String& text) {
  if constexpr (std::is_same_v<String, std::wstring>) {
    return QString::fromStdWString(text);
  } else {
    return QFile::decodeName(QByteArray::fromStdString(text));
  }
}

class BusyCursor {
 public:
  BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~BusyCursor() { QApplication::restoreOverrideCursor(); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;
};

// Shows each message of a batch run at once, with a busy cursor in between.
class MessageReporter : public BatchReporter {
 public:
  explicit MessageReporter(MessageService& messages) : messages_(messages) { busy_.emplace(); }

  void Report(BatchMessage message, const NativeString& subject) override {
    busy_.reset();  // the user answers a message with the ordinary pointer
    messages_.ShowMessage(FromNativeText(MessageText(message, subject)));
    busy_.emplace();
  }

 private:
  MessageService& messages_;
  std::optional<BusyCursor> busy_;
};

}  // namespace

OrvaneDlg::OrvaneDlg(std::unique_ptr<FolderPicker> picker, std::unique_ptr<MessageService> messages)
    : QDialog(nullptr, Qt::Window | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint),
      picker_(picker ? std::move(picker) : std::make_unique<FileDialogPicker>()),
      messages_(messages ? std::move(messages) : std::make_unique<MessageBoxService>(this)) {
  Identify(this, "IDD_MAIN_DIALOG", IDD_MAIN_DIALOG);
  OnInitDialog();
}

OrvaneDlg::~OrvaneDlg() = default;

int OrvaneDlg::DoModal() {
  QEventLoop loop;
  connect(this, &QDialog::finished, &loop, &QEventLoop::quit);
  show();
  loop.exec(QEventLoop::DialogExec);
  return result();
}

bool OrvaneDlg::OnInitDialog() {
  setWindowTitle(tr(ORVANE_DIALOG_CAPTION));

  select_folder_ = new QPushButton(tr(ORVANE_SELECT_FOLDER_TEXT), this);
  Identify(select_folder_, "IDC_SELECT_FOLDER", IDC_SELECT_FOLDER);
  select_folder_->setDefault(true);

  folder_path_ = new QLabel(tr(ORVANE_FOLDER_PATH_TEXT), this);
  Identify(folder_path_, "IDC_FOLDER_PATH", IDC_FOLDER_PATH);
  // A folder name is text, never markup, and long paths wrap and are cut at
  // the bottom edge rather than elided.
  folder_path_->setTextFormat(Qt::PlainText);
  folder_path_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  folder_path_->setWordWrap(true);

  process_files_ = new QPushButton(tr(ORVANE_PROCESS_FILES_TEXT), this);
  Identify(process_files_, "IDC_PROCESS_FILES", IDC_PROCESS_FILES);

  // Unticked at every start: no setting is stored.
  for (const CheckBoxTemplate& box : kCheckBoxes) {
    auto* check_box = new QCheckBox(tr(box.text), this);
    Identify(check_box, box.name, box.id);
    check_boxes_.append(check_box);
  }

  connect(select_folder_, &QPushButton::clicked, this, &OrvaneDlg::OnSelectFolder);
  connect(process_files_, &QPushButton::clicked, this, &OrvaneDlg::OnProcessFiles);
  for (QCheckBox* check_box : check_boxes_) {
    connect(check_box, &QCheckBox::toggled, this, &OrvaneDlg::UpdateDependentBoxes);
  }
  UpdateDependentBoxes();
  ApplyTemplateLayout();
  return true;
}

QCheckBox* OrvaneDlg::Box(int id) const {
  for (qsizetype i = 0; i < check_boxes_.size(); ++i) {
    if (kCheckBoxes[i].id == id) return check_boxes_[i];
  }
  return nullptr;
}

void OrvaneDlg::UpdateDependentBoxes() {
  // A disabled box is never ticked, so the boxes that depend on it follow it
  // in the same pass. Unticking a box calls this again, to the same end.
  for (const BoxDependency& dependency : kBoxDependencies) {
    QCheckBox* box = Box(dependency.box);
    const bool enabled = Box(dependency.depends_on)->isChecked();
    if (!enabled) box->setChecked(false);
    box->setEnabled(enabled);
  }
}

TranscriptStyle OrvaneDlg::transcriptStyle() const {
  // The most refined ticked box decides: a box is ticked only while the
  // boxes it depends on are.
  if (Box(IDC_TIME_STAMPS)->isChecked()) return TranscriptStyle::kTimedParagraphs;
  if (Box(IDC_PARAGRAPHS)->isChecked()) return TranscriptStyle::kParagraphs;
  if (Box(IDC_CLEAN_TRANSCRIPTS)->isChecked()) return TranscriptStyle::kClean;
  return TranscriptStyle::kDefault;
}

void OrvaneDlg::OnSelectFolder() {
  picker_->Open(tr(ORVANE_PICKER_TEXT), [this](const QUrl& choice) { OnFolderChosen(choice); });
}

void OrvaneDlg::OnFolderChosen(const QUrl& choice) {
  // A remote location has no path that the batch run could list.
  if (!choice.isLocalFile()) return;
  const QString path = choice.toLocalFile();
  if (path.isEmpty()) return;
  m_strFolderPath = path;
  folder_path_->setText(m_strFolderPath);
}

void OrvaneDlg::OnProcessFiles() {
  MessageReporter reporter(*messages_);
  // One file after another on this thread, in the chosen folder only.
  BatchOptions options;
  options.style = transcriptStyle();
  options.all_formats = Box(IDC_ALL_FORMATS)->isChecked();
  options.html = Box(IDC_WEB_PAGE)->isChecked();
  // Pages whose captions tell no language are in the user's, as
  // orvane-convert writes them without --lang.
  options.language = LanguageOfLocale(platform::UserLocaleName());
  RunBatches(ToNativeText<NativeString>(m_strFolderPath), options, reporter);
}

void OrvaneDlg::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::FontChange && select_folder_ != nullptr) ApplyTemplateLayout();
}

void OrvaneDlg::ApplyTemplateLayout() {
  const DialogBaseUnits base = BaseUnitsOf(font());
  QRect select_folder = MapDialogRect(kSelectFolderRect, base);
  QRect process_files = MapDialogRect(kProcessFilesRect, base);
  // Dialog units follow the average letter, and in wide fonts such as DejaVu
  // Sans the Select Folder caption outgrows its button. Both buttons then
  // widen alike, so that no caption is cut off and they stay aligned.
  const int button_width = std::max({select_folder.width(), select_folder_->sizeHint().width(),
                                     process_files_->sizeHint().width()});
  select_folder.setWidth(button_width);
  process_files.setWidth(button_width);
  select_folder_->setGeometry(select_folder);
  folder_path_->setGeometry(MapDialogRect(kFolderPathRect, base));
  process_files_->setGeometry(process_files);
  for (qsizetype i = 0; i < check_boxes_.size(); ++i) {
    check_boxes_[i]->setGeometry(MapDialogRect(kCheckBoxes[i].rect, base));
  }
  resize(MapDialogRect(QRect(QPoint(0, 0), kDialogSize), base).size());
}

}  // namespace orvane::app
