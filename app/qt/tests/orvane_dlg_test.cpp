#include "app/qt/orvane_dlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMap>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <set>
#include <string>
#include <utility>

#include "app/qt/dialog_units.h"
#include "app/qt/tests/open_pickers.h"
#include "conversion/transcriber.h"

namespace orvane::app {
namespace {

const char kSelectFolder[] = "IDC_SELECT_FOLDER";
const char kFolderPath[] = "IDC_FOLDER_PATH";
const char kProcessFiles[] = "IDC_PROCESS_FILES";
const char kCleanTranscripts[] = "IDC_CLEAN_TRANSCRIPTS";
const char kParagraphs[] = "IDC_PARAGRAPHS";
const char kTimeStamps[] = "IDC_TIME_STAMPS";
const char kWebPage[] = "IDC_WEB_PAGE";
const char kAllFormats[] = "IDC_ALL_FORMATS";
const char* const kBoxes[] = {kCleanTranscripts, kParagraphs, kTimeStamps, kWebPage, kAllFormats};

// Keeps every picker open until the test answers it.
class FakePicker : public FolderPicker {
 public:
  void Open(const QString& title, ChoiceHandler on_chosen) override {
    titles.append(title);
    open.append(std::move(on_chosen));
  }
  QStringList titles;
  QList<ChoiceHandler> open;
};

class RecordingMessages : public MessageService {
 public:
  void ShowMessage(const QString& text) override {
    texts.append(text);
    busy_while_shown |= QApplication::overrideCursor() != nullptr;
  }
  QStringList texts;
  bool busy_while_shown = false;
};

// A dialog with a fake picker and recorded messages.
struct Harness {
  FakePicker* picker = new FakePicker;
  RecordingMessages* messages = new RecordingMessages;
  OrvaneDlg dialog{std::unique_ptr<FolderPicker>(picker),
                   std::unique_ptr<MessageService>(messages)};

  template <typename Widget = QWidget>
  Widget* Control(const char* name) {
    return dialog.findChild<Widget*>(QString::fromLatin1(name));
  }
  QString FolderText() { return Control<QLabel>(kFolderPath)->text(); }

  // Shows the dialog and waits until it takes keys.
  void Show() {
    dialog.show();
    dialog.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
  }
  // Clicks the box `name` where a person would, on its indicator, through
  // the dialog's window.
  void ClickBox(const char* name) {
    auto* box = Control<QCheckBox>(name);
    const int indicator = box->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, box);
    QTest::mouseClick(dialog.windowHandle(), Qt::LeftButton, {},
                      box->geometry().topLeft() + QPoint(indicator / 2, box->height() / 2));
  }
  // The boxes in template order, each as 'X' (ticked), 'o' (unticked) or
  // '-' (unticked and disabled); '!' for a disabled box that is ticked.
  QString Boxes() {
    QString states;
    for (const char* name : kBoxes) {
      const auto* box = Control<QCheckBox>(name);
      states +=
          box->isEnabled() ? (box->isChecked() ? u'X' : u'o') : (box->isChecked() ? u'!' : u'-');
    }
    return states;
  }
};

const char* StyleName(TranscriptStyle style) {
  switch (style) {
    case TranscriptStyle::kDefault:
      return "kDefault";
    case TranscriptStyle::kClean:
      return "kClean";
    case TranscriptStyle::kParagraphs:
      return "kParagraphs";
    case TranscriptStyle::kTimedParagraphs:
      return "kTimedParagraphs";
  }
  return "?";
}

void WriteCaptions(const QString& path) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write("WEBVTT\n\n1\n00:00:01.000 --> 00:00:02.000\n<v>Hello</v>\n");
}

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  QCOMPARE(file.write(bytes), bytes.size());
}

// The transcripts (*.txt) and web pages (*.html) in `folder`, by name.
QMap<QString, QByteArray> Written(const QString& folder) {
  QMap<QString, QByteArray> written;
  for (const QString& name :
       QDir(folder).entryList({QStringLiteral("*.txt"), QStringLiteral("*.html")}, QDir::Files)) {
    QFile file(QDir(folder).filePath(name));
    written[name] = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
  }
  return written;
}

void RemoveWritten(const QString& folder) {
  for (const QString& name : Written(folder).keys()) {
    QVERIFY(QFile::remove(QDir(folder).filePath(name)));
  }
}

// Sets an environment variable while it lives, and restores it after.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const QByteArray& value)
      : name_(name), had_(qEnvironmentVariableIsSet(name)), old_(qgetenv(name)) {
    qputenv(name, value);
  }
  ~ScopedEnvironment() {
    if (had_) {
      qputenv(name_, old_);
    } else {
      qunsetenv(name_);
    }
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  const char* name_;
  bool had_;
  QByteArray old_;
};

QString ConvertedMessage(const QString& folder) {
  return QStringLiteral("Files converted to folder: ") + folder;
}

// Clicks `control` through the dialog's window, as the windowing system
// would deliver a click; a modal window elsewhere would swallow it.
void ClickThroughWindow(OrvaneDlg& dialog, const char* control) {
  auto* button = dialog.findChild<QPushButton*>(QString::fromLatin1(control));
  QTest::mouseClick(dialog.windowHandle(), Qt::LeftButton, {}, button->geometry().center());
}

// Confirms `folder` in a real picker by clicking its Choose button through the
// picker's window.
void ChooseThroughWindow(QFileDialog* picker, const QString& folder) {
  picker->setDirectory(folder);
  QPushButton* choose = picker->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Open);
  QTest::mouseClick(picker->windowHandle(), Qt::LeftButton, {},
                    choose->mapTo(picker, choose->rect().center()));
}

// The picker in `now` that is not in `before`, or null.
QFileDialog* NewPicker(const QList<QFileDialog*>& before, const QList<QFileDialog*>& now) {
  for (QFileDialog* picker : now) {
    if (!before.contains(picker)) return picker;
  }
  return nullptr;
}

}  // namespace

class OrvaneDlgTest : public QObject {
  Q_OBJECT

 private slots:
  void ShowsTheTemplateInDialogUnitsOfItsFont() {
    Harness h;
    QCOMPARE(h.dialog.windowTitle(), QStringLiteral("Orvane Conversion"));
    QStringList order;
    for (QObject* child : h.dialog.children()) {
      if (child->isWidgetType()) order.append(child->objectName());
    }
    QCOMPARE(order, (QStringList{kSelectFolder, kFolderPath, kProcessFiles, kCleanTranscripts,
                                 kParagraphs, kTimeStamps, kWebPage, kAllFormats}));
    // The boxes follow Process Files in the tab order, those below Clean
    // transcripts indented under it.
    struct Box {
      const char* name;
      int id;
      const char* text;
      QRect rect;
    };
    const Box boxes[] = {
        {kCleanTranscripts,
         1004,
         "Clean transcripts (drop styling, notes and repeated lines)",
         {10, 85, 300, 10}},
        {kParagraphs, 1005, "Join lines into paragraphs", {22, 100, 290, 10}},
        {kTimeStamps, 1006, "Start each paragraph with its time", {22, 115, 290, 10}},
        {kWebPage, 1007, "Also write a web page (.html) for each transcript", {22, 130, 290, 10}},
        {kAllFormats,
         1008,
         "Also convert SubRip (.srt) and YouTube (.sbv) caption files",
         {22, 145, 290, 10}},
    };
    const QWidget* before = h.Control(kProcessFiles);
    for (const Box& box : boxes) {
      auto* control = h.Control<QCheckBox>(box.name);
      QCOMPARE(control->text(), QString::fromUtf8(box.text));
      QCOMPARE(control->property("controlId").toInt(), box.id);
      QVERIFY(control->focusPolicy() & Qt::TabFocus);
      QCOMPARE(before->nextInFocusChain(), control);
      before = control;
    }
    QCOMPARE(h.Boxes(), QStringLiteral("o----"));
    QCOMPARE(h.Control<QPushButton>(kSelectFolder)->text(),
             QStringLiteral("Select Folder contain VTT files"));
    QCOMPARE(h.FolderText(), QStringLiteral("No folder selected."));
    QCOMPARE(h.Control<QPushButton>(kProcessFiles)->text(), QStringLiteral("Process Files"));
    QCOMPARE(h.Control(kFolderPath)->property("controlId").toInt(), 1002);
    QVERIFY(h.Control<QPushButton>(kSelectFolder)->isDefault());
    QVERIFY(!h.Control<QPushButton>(kProcessFiles)->isDefault());
    QVERIFY(h.Control<QLabel>(kFolderPath)->wordWrap());

    const Qt::WindowFlags flags = h.dialog.windowFlags();
    QCOMPARE(h.dialog.windowType(), Qt::Window);  // a task bar entry of its own
    QVERIFY(flags.testFlags(Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint));

    // Redone whenever the font changes, with the same template.
    for (int pixels : {0, 11, 27}) {
      if (pixels != 0) {
        QFont font = h.dialog.font();
        font.setPixelSize(pixels);
        h.dialog.setFont(font);
      }
      const DialogBaseUnits base = BaseUnitsOf(h.dialog.font());
      QCOMPARE(h.dialog.size(), MapDialogRect({0, 0, 320, 200}, base).size());
      QCOMPARE(h.Control(kFolderPath)->geometry(), MapDialogRect({10, 35, 230, 14}, base));
      for (const Box& box : boxes) {
        const QRect geometry = h.Control(box.name)->geometry();
        QCOMPARE(geometry, MapDialogRect(box.rect, base));
        QVERIFY(h.dialog.rect().contains(geometry));
        QVERIFY(h.Control(box.name)->sizeHint().width() <= geometry.width());  // not cut off
      }
      // The buttons widen together only when a caption needs it.
      const int width = std::max({MapDialogRect({0, 0, 100, 14}, base).width(),
                                  h.Control(kSelectFolder)->sizeHint().width(),
                                  h.Control(kProcessFiles)->sizeHint().width()});
      QRect select_folder = MapDialogRect({10, 10, 100, 14}, base);
      QRect process_files = MapDialogRect({10, 60, 100, 14}, base);
      select_folder.setWidth(width);
      process_files.setWidth(width);
      QCOMPARE(h.Control(kSelectFolder)->geometry(), select_folder);
      QCOMPARE(h.Control(kProcessFiles)->geometry(), process_files);
    }
  }

  void IsCentredAndKeepsItsControlsInPlaceWhenResized() {
    Harness h;
    h.dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&h.dialog));
    const QPoint centre = h.dialog.screen()->availableGeometry().center();
    QVERIFY((h.dialog.frameGeometry().center() - centre).manhattanLength() <= 2);

    const QRect button = h.Control(kProcessFiles)->geometry();
    h.dialog.resize(h.dialog.size() * 2);
    QTRY_COMPARE(h.dialog.size(), h.Control(kProcessFiles)->window()->size());
    QCOMPARE(h.Control(kProcessFiles)->geometry(), button);
    h.dialog.resize(60, 40);
    QCOMPARE(h.Control(kProcessFiles)->geometry(), button);
  }

  void KeepsTheEarlierFolderUnlessTheChoiceHasALocalPath() {
    Harness h;
    QTemporaryDir dir;
    const QString odd = dir.filePath(QStringLiteral("<i>Kurs & ü"));
    QVERIFY(QDir().mkdir(odd));

    h.dialog.OnSelectFolder();
    QCOMPARE(h.picker->titles,
             QStringList{QStringLiteral("Select a folder to process .vtt files")});
    h.picker->open[0](QUrl::fromLocalFile(dir.path()));
    QCOMPARE(h.dialog.folderPath(), dir.path());
    QCOMPARE(h.FolderText(), dir.path());

    // Remote and empty choices; a cancelled picker never answers at all.
    for (const QUrl& choice :
         {QUrl(QStringLiteral("sftp://host/courses")), QUrl(QStringLiteral("smb://host/share")),
          QUrl(), QUrl(QStringLiteral("file:"))}) {
      h.dialog.OnSelectFolder();
      h.picker->open.last()(choice);
      QCOMPARE(h.dialog.folderPath(), dir.path());
      QCOMPARE(h.FolderText(), dir.path());
    }

    // A later choice replaces it, shown literally: no markup, no mnemonic.
    h.dialog.OnSelectFolder();
    h.picker->open.last()(QUrl::fromLocalFile(odd));
    QCOMPARE(h.dialog.folderPath(), odd);
    QCOMPARE(h.FolderText(), odd);
    QCOMPARE(h.Control<QLabel>(kFolderPath)->textFormat(), Qt::PlainText);
    QVERIFY(h.messages->texts.isEmpty());
  }

  void ProcessFilesRunsTheBatchOverTheStoredFolder() {
    Harness h;
    h.dialog.OnProcessFiles();
    QCOMPARE(h.messages->texts, QStringList{QStringLiteral("Please select a folder first.")});

    QTemporaryDir dir;
    const QString empty = dir.filePath(QStringLiteral("empty"));
    const QString captions = dir.filePath(QStringLiteral("Unterlagen für Kurs 1"));
    QVERIFY(QDir().mkdir(empty) && QDir().mkdir(captions));
    WriteCaptions(captions + QStringLiteral("/Lektion ü.vtt"));

    h.messages->texts.clear();
    h.dialog.OnSelectFolder();
    h.picker->open.last()(QUrl::fromLocalFile(empty));
    h.dialog.OnProcessFiles();
    h.dialog.OnSelectFolder();
    h.picker->open.last()(QUrl::fromLocalFile(captions));
    h.dialog.OnProcessFiles();
    QCOMPARE(h.messages->texts,
             (QStringList{QStringLiteral("No .vtt files found in the selected folder."),
                          ConvertedMessage(captions)}));
    QFile transcript(captions + QStringLiteral("/Lektion ü.txt"));
    QVERIFY(transcript.open(QIODevice::ReadOnly));
    QCOMPARE(transcript.readAll(), QByteArray("Hello\r\n"));
    transcript.close();

    // Ticked, the box turns the next run into clean transcripts.
    h.messages->texts.clear();
    QTest::mouseClick(h.Control<QCheckBox>(kCleanTranscripts), Qt::LeftButton);
    QVERIFY(h.Control<QCheckBox>(kCleanTranscripts)->isChecked());
    QFile styled(captions + QStringLiteral("/Lektion ü.vtt"));
    QVERIFY(styled.open(QIODevice::WriteOnly));
    styled.write("WEBVTT\n\n00:01.000 --> 00:02.000\n<v Ana>Hello &amp; <i>bye</i>\n");
    styled.close();
    h.dialog.OnProcessFiles();
    QCOMPARE(h.messages->texts, QStringList{ConvertedMessage(captions)});
    QVERIFY(transcript.open(QIODevice::ReadOnly));
    QCOMPARE(transcript.readAll(), QByteArray("Ana: Hello & bye\r\n"));

    // The pointer is busy only while the run works, not while a message waits.
    QVERIFY(!h.messages->busy_while_shown);
    QVERIFY(QApplication::overrideCursor() == nullptr);
  }

  // Paragraphs, Web page and All formats are enabled only while Clean
  // transcripts is ticked, Time stamps only while Paragraphs is; unticking a
  // box unticks and disables the boxes that depend on it, and ticking it again
  // ticks none of them.
  void MouseClicksTickOnlyTheEnabledBoxes() {
    struct Step {
      const char* box;
      const char* states;  // as Harness::Boxes() after the click
    };
    const Step steps[] = {
        {kParagraphs, "o----"},       {kTimeStamps, "o----"},       {kWebPage, "o----"},
        {kAllFormats, "o----"},       {kCleanTranscripts, "Xo-oo"}, {kTimeStamps, "Xo-oo"},
        {kWebPage, "Xo-Xo"},          {kParagraphs, "XXoXo"},       {kTimeStamps, "XXXXo"},
        {kAllFormats, "XXXXX"},       {kParagraphs, "Xo-XX"},       {kWebPage, "Xo-oX"},
        {kWebPage, "Xo-XX"},          {kParagraphs, "XXoXX"},       {kTimeStamps, "XXXXX"},
        {kTimeStamps, "XXoXX"},       {kTimeStamps, "XXXXX"},       {kAllFormats, "XXXXo"},
        {kAllFormats, "XXXXX"},       {kCleanTranscripts, "o----"}, {kWebPage, "o----"},
        {kCleanTranscripts, "Xo-oo"}, {kWebPage, "Xo-Xo"},          {kAllFormats, "Xo-XX"},
        {kParagraphs, "XXoXX"},       {kCleanTranscripts, "o----"},
    };
    Harness h;
    h.Show();
    for (const Step& step : steps) {
      h.ClickBox(step.box);
      QTRY_COMPARE(h.Boxes(), QString::fromLatin1(step.states));
    }
  }

  // Tab reaches a box only while it is enabled; Space ticks the focused box.
  void KeysMoveToAndTickOnlyTheEnabledBoxes() {
    struct Step {
      Qt::Key key;
      Qt::KeyboardModifiers modifiers;
      const char* focus;   // the control with the focus after the key
      const char* states;  // as Harness::Boxes()
    };
    const Step steps[] = {
        {Qt::Key_Tab, {}, kProcessFiles, "o----"},
        {Qt::Key_Tab, {}, kCleanTranscripts, "o----"},
        {Qt::Key_Tab, {}, kSelectFolder, "o----"},  // the others are disabled
        {Qt::Key_Tab, Qt::ShiftModifier, kCleanTranscripts, "o----"},
        {Qt::Key_Space, {}, kCleanTranscripts, "Xo-oo"},
        {Qt::Key_Tab, {}, kParagraphs, "Xo-oo"},
        {Qt::Key_Tab, {}, kWebPage, "Xo-oo"},  // past Time stamps
        {Qt::Key_Space, {}, kWebPage, "Xo-Xo"},
        {Qt::Key_Tab, {}, kAllFormats, "Xo-Xo"},
        {Qt::Key_Space, {}, kAllFormats, "Xo-XX"},
        {Qt::Key_Tab, Qt::ShiftModifier, kWebPage, "Xo-XX"},
        {Qt::Key_Tab, Qt::ShiftModifier, kParagraphs, "Xo-XX"},
        {Qt::Key_Space, {}, kParagraphs, "XXoXX"},
        {Qt::Key_Tab, {}, kTimeStamps, "XXoXX"},
        {Qt::Key_Space, {}, kTimeStamps, "XXXXX"},
        {Qt::Key_Tab, {}, kWebPage, "XXXXX"},
        {Qt::Key_Space, {}, kWebPage, "XXXoX"},
        {Qt::Key_Tab, {}, kAllFormats, "XXXoX"},
        {Qt::Key_Space, {}, kAllFormats, "XXXoo"},
        {Qt::Key_Tab, {}, kSelectFolder, "XXXoo"},
        {Qt::Key_Tab, Qt::ShiftModifier, kAllFormats, "XXXoo"},
        {Qt::Key_Tab, Qt::ShiftModifier, kWebPage, "XXXoo"},
        {Qt::Key_Tab, Qt::ShiftModifier, kTimeStamps, "XXXoo"},
        {Qt::Key_Tab, Qt::ShiftModifier, kParagraphs, "XXXoo"},
        {Qt::Key_Space, {}, kParagraphs, "Xo-oo"},
        {Qt::Key_Tab, {}, kWebPage, "Xo-oo"},
        {Qt::Key_Space, {}, kWebPage, "Xo-Xo"},
        {Qt::Key_Tab, {}, kAllFormats, "Xo-Xo"},
        {Qt::Key_Tab, {}, kSelectFolder, "Xo-Xo"},
        {Qt::Key_Tab, Qt::ShiftModifier, kAllFormats, "Xo-Xo"},
        {Qt::Key_Tab, Qt::ShiftModifier, kWebPage, "Xo-Xo"},
        {Qt::Key_Tab, Qt::ShiftModifier, kParagraphs, "Xo-Xo"},
        {Qt::Key_Tab, Qt::ShiftModifier, kCleanTranscripts, "Xo-Xo"},
        {Qt::Key_Space, {}, kCleanTranscripts, "o----"},
        {Qt::Key_Tab, {}, kSelectFolder, "o----"},
    };
    Harness h;
    h.Show();
    QTRY_COMPARE(QApplication::focusWidget(), h.Control(kSelectFolder));
    for (const Step& step : steps) {
      QTest::keyClick(h.dialog.windowHandle(), step.key, step.modifiers);
      QTRY_COMPARE(QApplication::focusWidget(), h.Control(step.focus));
      QTRY_COMPARE(h.Boxes(), QString::fromLatin1(step.states));
    }
  }

  // Process Files converts into the style of the ticked boxes, and writes
  // what the converter writes for it (orvane-convert with the same options).
  void ProcessFilesWritesTheStyleOfTheTickedBoxes() {
    const QByteArray captions(
        "WEBVTT\n\nNOTE reviewed\n\n"
        "00:00:01.000 --> 00:00:03.000\n<v Ana>Good morning, everyone.\n\n"
        "00:00:03.000 --> 00:00:05.500\n<v Ana>Today we look at <i>ladders</i> &amp; steps.\n\n"
        "00:01:05.000 --> 00:01:07.000\n<v Ben>Do we need gloves?\n\n"
        "00:01:07.000 --> 00:01:09.000\n<v Ana>Yes, always.\n");
    struct Combination {
      QList<const char*> clicks;
      TranscriptStyle style;
    };
    const Combination combinations[] = {
        {{}, TranscriptStyle::kDefault},
        {{kCleanTranscripts}, TranscriptStyle::kClean},
        {{kCleanTranscripts, kParagraphs}, TranscriptStyle::kParagraphs},
        {{kCleanTranscripts, kParagraphs, kTimeStamps}, TranscriptStyle::kTimedParagraphs},
        // Unticking a box drops the boxes below it, and ticking it again
        // brings none of them back.
        {{kCleanTranscripts, kParagraphs, kTimeStamps, kParagraphs}, TranscriptStyle::kClean},
        {{kCleanTranscripts, kParagraphs, kTimeStamps, kCleanTranscripts},
         TranscriptStyle::kDefault},
        {{kCleanTranscripts, kParagraphs, kCleanTranscripts, kCleanTranscripts},
         TranscriptStyle::kClean},
    };
    QTemporaryDir dir;
    const QString vtt = dir.filePath(QStringLiteral("lesson.vtt"));
    QFile file(vtt);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(captions);
    file.close();
    const std::string captions_text = captions.toStdString();
    // The talk tells every style from the others.
    std::set<std::string> transcripts;
    for (TranscriptStyle style :
         {TranscriptStyle::kDefault, TranscriptStyle::kClean, TranscriptStyle::kParagraphs,
          TranscriptStyle::kTimedParagraphs}) {
      transcripts.insert(TranscribeCaptions(captions_text, style));
    }
    QCOMPARE(transcripts.size(), std::size_t{4});

    for (const Combination& combination : combinations) {
      Harness h;
      h.Show();
      h.dialog.OnSelectFolder();
      h.picker->open.last()(QUrl::fromLocalFile(dir.path()));
      for (const char* box : combination.clicks) h.ClickBox(box);
      QTRY_COMPARE(StyleName(h.dialog.transcriptStyle()), StyleName(combination.style));
      QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("lesson.txt"))) ||
              QFile::remove(dir.filePath(QStringLiteral("lesson.txt"))));
      ClickThroughWindow(h.dialog, kProcessFiles);
      QTRY_COMPARE(h.messages->texts, QStringList{ConvertedMessage(dir.path())});
      QFile transcript(dir.filePath(QStringLiteral("lesson.txt")));
      QVERIFY(transcript.open(QIODevice::ReadOnly));
      QCOMPARE(transcript.readAll().toStdString(),
               TranscribeCaptions(captions_text, combination.style));
    }
  }

  // Process Files writes the files orvane-convert writes with the options
  // of the ticked boxes: with Also write a web page... a page beside each
  // transcript, in the user's language where the captions tell none, and
  // with Also convert SubRip... the transcripts of the SubRip and SBV files
  // too, passing over a.srt, whose transcript a.vtt gives. Without them, or
  // once Clean transcripts has been unticked, a.txt alone.
  void ProcessFilesWritesWhatOrvaneConvertWritesForTheTickedBoxes() {
    const QStringList a{QStringLiteral("a.txt")};
    const QStringList abc{QStringLiteral("a.txt"), QStringLiteral("b.txt"),
                          QStringLiteral("c.txt")};
    const QStringList a_page{QStringLiteral("a.html"), QStringLiteral("a.txt")};
    const QStringList abc_pages{QStringLiteral("a.html"), QStringLiteral("a.txt"),
                                QStringLiteral("b.html"), QStringLiteral("b.txt"),
                                QStringLiteral("c.html"), QStringLiteral("c.txt")};
    struct Combination {
      QList<const char*> clicks;
      const char* states;   // as Harness::Boxes() after the clicks
      QStringList options;  // of orvane-convert for the same files
      QStringList written;  // the transcripts and pages, by name
    };
    const Combination combinations[] = {
        {{}, "o----", {}, a},
        {{kCleanTranscripts}, "Xo-oo", {"--clean"}, a},
        {{kCleanTranscripts, kWebPage}, "Xo-Xo", {"--html"}, a_page},
        {{kCleanTranscripts, kWebPage, kParagraphs}, "XXoXo", {"--html", "--paragraphs"}, a_page},
        {{kCleanTranscripts, kParagraphs, kTimeStamps, kWebPage},
         "XXXXo",
         {"--html", "--timestamps"},
         a_page},
        {{kCleanTranscripts, kAllFormats}, "Xo-oX", {"--all-formats"}, abc},
        {{kCleanTranscripts, kParagraphs, kAllFormats},
         "XXooX",
         {"--all-formats", "--paragraphs"},
         abc},
        {{kCleanTranscripts, kAllFormats, kParagraphs, kTimeStamps},
         "XXXoX",
         {"--all-formats", "--timestamps"},
         abc},
        {{kCleanTranscripts, kWebPage, kAllFormats, kParagraphs, kTimeStamps},
         "XXXXX",
         {"--all-formats", "--html", "--timestamps"},
         abc_pages},
        // Unticking Join lines leaves both boxes as they are.
        {{kCleanTranscripts, kParagraphs, kWebPage, kAllFormats, kParagraphs},
         "Xo-XX",
         {"--all-formats", "--html"},
         abc_pages},
        {{kCleanTranscripts, kWebPage, kWebPage}, "Xo-oo", {"--clean"}, a},
        {{kCleanTranscripts, kAllFormats, kAllFormats}, "Xo-oo", {"--clean"}, a},
        // Unticking Clean transcripts unticks them, and ticking Clean again
        // does not bring them back.
        {{kCleanTranscripts, kWebPage, kAllFormats, kCleanTranscripts}, "o----", {}, a},
        {{kCleanTranscripts, kWebPage, kAllFormats, kCleanTranscripts, kCleanTranscripts},
         "Xo-oo",
         {"--clean"},
         a},
    };
    const QList<std::pair<const char*, QByteArray>> captions = {
        {"a.vtt",
         "WEBVTT\n\n00:00:01.000 --> 00:00:03.000\n<v Ana>Welcome to the <b>ladder</b> course.\n\n"
         "00:00:04.000 --> 00:00:06.000\n<v Ben>Where do we start?\n"},
        {"b.srt",
         "1\r\n00:00:01,000 --> 00:00:03,000\r\n{\\an8}<i>Check the feet</i> before you climb.\r\n"
         "\r\n2\r\n00:00:03,500 --> 00:00:05,000\r\nKeep three points of contact.\r\n\r\n"
         "3\r\n00:01:10,000 --> 00:01:12,000\r\n<i>Never</i> stand on the top rung.\r\n"},
        {"c.sbv",
         "0:00:01.000,0:00:03.000\nGloves on, please.\n\n"
         "0:00:03.500,0:00:05.000\n>> BEN: Do we need helmets?\n\n"
         "0:01:20.000,0:01:22.000\nYes, always.\n"},
        {"a.srt", "1\n00:00:01,000 --> 00:00:02,000\nThe SubRip copy of lesson a.\n"},
    };
    // Both read the user's language from the environment.
    const ScopedEnvironment locale("LC_ALL", "pt_BR.UTF-8");
    QTemporaryDir dir, cli;
    for (const auto& [name, bytes] : captions) {
      WriteFile(dir.filePath(QString::fromLatin1(name)), bytes);
      WriteFile(cli.filePath(QString::fromLatin1(name)), bytes);
    }

    for (const Combination& combination : combinations) {
      const QString options = combination.options.join(u' ');
      RemoveWritten(dir.path());
      RemoveWritten(cli.path());
      QProcess convert;
      convert.start(
          QStringLiteral(ORVANE_CONVERT_PATH),
          QStringList{QStringLiteral("-q")} + combination.options + QStringList{cli.path()});
      QVERIFY2(convert.waitForFinished(30000) && convert.exitStatus() == QProcess::NormalExit &&
                   convert.exitCode() == 0,
               qPrintable(QStringLiteral("orvane-convert ") + options + QStringLiteral(": ") +
                          QString::fromLocal8Bit(convert.readAllStandardError())));
      const QMap<QString, QByteArray> expected = Written(cli.path());
      QCOMPARE(expected.keys(), combination.written);

      Harness h;
      h.Show();
      h.dialog.OnSelectFolder();
      h.picker->open.last()(QUrl::fromLocalFile(dir.path()));
      for (const char* box : combination.clicks) h.ClickBox(box);
      QTRY_COMPARE(h.Boxes(), QString::fromLatin1(combination.states));
      ClickThroughWindow(h.dialog, kProcessFiles);
      QTRY_COMPARE(h.messages->texts, QStringList{ConvertedMessage(dir.path())});
      const QMap<QString, QByteArray> written = Written(dir.path());
      for (const QString& name : expected.keys()) {
        QVERIFY2(written.value(name) == expected[name],
                 qPrintable(name + QStringLiteral(" is not as orvane-convert ") + options +
                            QStringLiteral(" writes it:\n") + QString::fromUtf8(written[name])));
      }
      QCOMPARE(written.keys(), expected.keys());
      // The captions tell no language: the page is in the user's.
      if (written.contains(QStringLiteral("a.html"))) {
        QVERIFY(written[QStringLiteral("a.html")].contains("<html lang=\"pt-BR\">"));
      }
      // a.srt is passed over, and the SubRip styling is dropped.
      QVERIFY(!written.value(QStringLiteral("a.txt")).contains("SubRip copy"));
      if (written.contains(QStringLiteral("b.txt"))) {
        const QByteArray& b = written[QStringLiteral("b.txt")];
        QVERIFY(b.contains("Check the feet before you climb.") && !b.contains("an8") &&
                !b.contains("<i>"));
      }
    }
  }

  void EnterPressesTheFocusedButtonAndEscapeEndsTheDialog() {
    Harness h;
    int result = -1;
    QTimer::singleShot(0, &h.dialog, [&] {
      QWindow* window = h.dialog.windowHandle();
      QTest::keyClick(window, Qt::Key_Return);  // Select Folder, the default button
      QTest::keyClick(window, Qt::Key_Tab);
      QTest::keyClick(window, Qt::Key_Return);  // now Process Files
      QTest::keyClick(window, Qt::Key_Escape);
    });
    QTimer::singleShot(10000, &h.dialog, [&] { h.dialog.done(99); });
    result = h.dialog.DoModal();
    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(h.picker->open.size(), 1);
    QCOMPARE(h.messages->texts, QStringList{QStringLiteral("Please select a folder first.")});
    QVERIFY(!h.dialog.isVisible());
  }

  void TheCloseBoxEndsTheDialog() {
    Harness h;
    QTimer::singleShot(0, &h.dialog, [&] { h.dialog.windowHandle()->close(); });
    QTimer::singleShot(10000, &h.dialog, [&] { h.dialog.done(99); });
    QCOMPARE(h.dialog.DoModal(), int(QDialog::Rejected));
  }

  // With real pickers open, clicks on the dialog's window still reach it, the
  // pickers take clicks too, and each stores its own choice when it closes.
  void StaysUsableWhilePickersAreOpen() {
    QTemporaryDir first, second, third;
    WriteCaptions(first.filePath(QStringLiteral("a.vtt")));
    auto* messages = new RecordingMessages;
    OrvaneDlg dialog(nullptr, std::unique_ptr<MessageService>(messages));

    QString after_first, after_third, after_second;
    QStringList messages_while_open;
    qsizetype open_at_once = 0;
    QTimer::singleShot(0, &dialog, [&] {
      ClickThroughWindow(dialog, kSelectFolder);
      QFileDialog* picker1 = NewPicker({}, OpenPickers());
      if (picker1 == nullptr) return dialog.done(98);
      ChooseThroughWindow(picker1, first.path());
      after_first = dialog.folderPath();

      const QList<QFileDialog*> before2 = OpenPickers();
      ClickThroughWindow(dialog, kSelectFolder);
      QFileDialog* picker2 = NewPicker(before2, OpenPickers());
      ClickThroughWindow(dialog, kProcessFiles);
      messages_while_open = messages->texts;
      const QList<QFileDialog*> before3 = OpenPickers();
      ClickThroughWindow(dialog, kSelectFolder);
      QFileDialog* picker3 = NewPicker(before3, OpenPickers());
      open_at_once = OpenPickers().size();
      if (picker2 == nullptr || picker3 == nullptr) return dialog.done(98);

      ChooseThroughWindow(picker3, third.path());
      after_third = dialog.folderPath();
      ChooseThroughWindow(picker2, second.path());
      after_second = dialog.folderPath();
      QTest::keyClick(dialog.windowHandle(), Qt::Key_Escape);
    });
    QTimer::singleShot(20000, &dialog, [&] { dialog.done(99); });

    QCOMPARE(dialog.DoModal(), int(QDialog::Rejected));
    QCOMPARE(after_first, first.path());
    QCOMPARE(messages_while_open, QStringList{ConvertedMessage(first.path())});
    QVERIFY(QFile::exists(first.filePath(QStringLiteral("a.txt"))));
    QCOMPARE(open_at_once, 2);
    QCOMPARE(after_third, third.path());
    QCOMPARE(after_second, second.path());
  }
};

}  // namespace orvane::app

QTEST_MAIN(orvane::app::OrvaneDlgTest)
#include "orvane_dlg_test.moc"
