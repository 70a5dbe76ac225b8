#include "app/win32/orvane_dlg.h"

// windows.h (through the header) first: shlobj.h relies on its types.
#include <shlobj.h>

#include <algorithm>
#include <iterator>
#include <memory>

#include "app/dialog_texts.h"
#include "app/resource.h"
#include "conversion/batch_run.h"
#include "conversion/page.h"
#include "platform/platform.h"

namespace {

// The shared texts are narrow literals; L"" before one makes it wide.
constexpr wchar_t kAppName[] = L"" ORVANE_MESSAGE_TITLE;
constexpr wchar_t kPickerText[] = L"" ORVANE_PICKER_TEXT;

// Shows every message of a batch run in a modal box owned by the dialog.
class MessageBoxReporter : public orvane::BatchReporter {
 public:
  explicit MessageBoxReporter(HWND owner) : owner_(owner) {}
  void Report(orvane::BatchMessage message, const orvane::NativeString& subject) override {
    const std::wstring text = orvane::MessageText(message, subject);
    ::MessageBoxW(owner_, text.c_str(), kAppName, MB_OK | MB_ICONEXCLAMATION);
  }

 private:
  HWND owner_;
};

// Shows the hourglass while it lives.
class WaitCursor {
 public:
  WaitCursor() : previous_(::SetCursor(::LoadCursorW(nullptr, IDC_WAIT))) {}
  ~WaitCursor() { ::SetCursor(previous_); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;

 private:
  HCURSOR previous_;
};

// A check box that is enabled only while another box is ticked.
struct BoxDependency {
  int box;
  int depends_on;
};
constexpr BoxDependency kBoxDependencies[] = {ORVANE_BOX_DEPENDENCIES};

bool IsTicked(HWND dialog, int box) { return ::IsDlgButtonChecked(dialog, box) == BST_CHECKED; }

// True when clicking `control` may change which dependent boxes are enabled.
bool HasDependentBoxes(int control) {
  return std::any_of(std::begin(kBoxDependencies), std::end(kBoxDependencies),
                     [control](const BoxDependency& d) { return d.depends_on == control; });
}

// Enables each dependent box while the box it depends on is ticked, and
// unticks and disables it otherwise. A disabled box is thus never ticked, and
// the boxes that depend on it follow it in the same pass.
void UpdateDependentBoxes(HWND dialog) {
  for (const BoxDependency& dependency : kBoxDependencies) {
    const bool enabled = IsTicked(dialog, dependency.depends_on);
    if (!enabled) ::CheckDlgButton(dialog, dependency.box, BST_UNCHECKED);
    ::EnableWindow(::GetDlgItem(dialog, dependency.box), enabled);
  }
}

// The style of the ticked boxes: the most refined one decides, as a box is
// ticked only while the boxes it depends on are.
orvane::TranscriptStyle ChosenStyle(HWND dialog) {
  if (IsTicked(dialog, IDC_TIME_STAMPS)) return orvane::TranscriptStyle::kTimedParagraphs;
  if (IsTicked(dialog, IDC_PARAGRAPHS)) return orvane::TranscriptStyle::kParagraphs;
  if (IsTicked(dialog, IDC_CLEAN_TRANSCRIPTS)) return orvane::TranscriptStyle::kClean;
  return orvane::TranscriptStyle::kDefault;
}

struct IdListDeleter {
  void operator()(ITEMIDLIST* list) const { ::CoTaskMemFree(list); }
};
using IdList = std::unique_ptr<ITEMIDLIST, IdListDeleter>;

}  // namespace

INT_PTR OrvaneDlg::DoModal() {
  return ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_MAIN_DIALOG), nullptr,
                           &OrvaneDlg::DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK OrvaneDlg::DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    auto* dialog = reinterpret_cast<OrvaneDlg*>(lparam);
    ::SetWindowLongPtrW(window, DWLP_USER, lparam);
    dialog->m_hWnd = window;
    return dialog->OnInitDialog();
  }
  auto* dialog = reinterpret_cast<OrvaneDlg*>(::GetWindowLongPtrW(window, DWLP_USER));
  // Messages sent before WM_INITDIALOG (WM_SETFONT) find no object yet.
  return dialog != nullptr ? dialog->OnMessage(message, wparam, lparam) : FALSE;
}

INT_PTR OrvaneDlg::OnMessage(UINT message, WPARAM wparam, LPARAM) {
  if (message != WM_COMMAND || HIWORD(wparam) != BN_CLICKED) return FALSE;
  switch (LOWORD(wparam)) {
    case IDC_SELECT_FOLDER:
      OnSelectFolder();
      return TRUE;
    case IDC_PROCESS_FILES:
      OnProcessFiles();
      return TRUE;
    case IDOK:      // Enter with no default button
    case IDCANCEL:  // Escape, the close box, Alt+F4
      ::EndDialog(m_hWnd, LOWORD(wparam));
      return TRUE;
    default:
      if (!HasDependentBoxes(LOWORD(wparam))) return FALSE;
      UpdateDependentBoxes(m_hWnd);
      return TRUE;
  }
}

BOOL OrvaneDlg::OnInitDialog() {
  // Every box starts unticked: no setting is stored.
  UpdateDependentBoxes(m_hWnd);
  RECT dialog;
  ::GetWindowRect(m_hWnd, &dialog);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  ::GetMonitorInfoW(::MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTOPRIMARY), &monitor);
  const RECT& area = monitor.rcWork;
  const int width = dialog.right - dialog.left;
  const int height = dialog.bottom - dialog.top;
  ::SetWindowPos(m_hWnd, nullptr, area.left + (area.right - area.left - width) / 2,
                 area.top + (area.bottom - area.top - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  return TRUE;
}

void OrvaneDlg::OnSelectFolder() {
  // No owner: the dialog stays usable while the picker is open.
  BROWSEINFOW info{};
  info.lpszTitle = kPickerText;
  const IdList item(::SHBrowseForFolderW(&info));
  if (!item) return;  // cancelled
  wchar_t path[MAX_PATH];
  if (!::SHGetPathFromIDListW(item.get(), path)) return;  // a virtual item
  m_strFolderPath = path;
  ::SetDlgItemTextW(m_hWnd, IDC_FOLDER_PATH, path);
}

void OrvaneDlg::OnProcessFiles() {
  const WaitCursor busy;
  MessageBoxReporter reporter(m_hWnd);
  // One file after another on this thread, in the chosen folder only.
  orvane::BatchOptions options;
  options.style = ChosenStyle(m_hWnd);
  options.all_formats = IsTicked(m_hWnd, IDC_ALL_FORMATS);
  options.html = IsTicked(m_hWnd, IDC_WEB_PAGE);
  // Pages whose captions tell no language are in the user's, as
  // orvane-convert.exe writes them without --lang.
  options.language = orvane::LanguageOfLocale(orvane::platform::UserLocaleName());
  orvane::RunBatches(m_strFolderPath, options, reporter);
}
