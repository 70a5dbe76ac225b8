// window-probe.exe TITLE: prints, for every visible top-level window whose
// title is TITLE, a line for it and one per child control:
// "class|text|x|y|check|enabled|focus" with the control's centre in screen
// coordinates, in UTF-8; for a check box "checked" or "unchecked" (empty for
// other controls); "enabled" or "disabled"; and "focused" for the control
// with the keyboard focus (else empty). Prints nothing when no such window
// exists. The GUI test reads texts, positions and states through it.
#include <windows.h>

#include <string>

#include "platform/win32_io.h"

namespace {

std::wstring TextOf(HWND window) {
  wchar_t buffer[512];
  // Unlike GetWindowTextW, sends no message: a busy program cannot stall the probe.
  const int length = ::InternalGetWindowText(window, buffer, 512);
  return std::wstring(buffer, static_cast<std::size_t>(length > 0 ? length : 0));
}

// "checked" or "unchecked" for a check box, else empty.
std::string CheckOf(HWND window) {
  const LONG_PTR type = ::GetWindowLongPtrW(window, GWL_STYLE) & BS_TYPEMASK;
  if (type != BS_AUTOCHECKBOX && type != BS_CHECKBOX) return {};
  DWORD_PTR state = 0;
  ::SendMessageTimeoutW(window, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, &state);
  return state == BST_CHECKED ? "checked" : "unchecked";
}

std::string Line(HWND window, HWND focus) {
  wchar_t class_name[128];
  const int length = ::GetClassNameW(window, class_name, 128);
  RECT rect;
  ::GetWindowRect(window, &rect);
  const std::wstring class_text(class_name, static_cast<std::size_t>(length > 0 ? length : 0));
  return orvane::platform::ToUtf8(class_text) + "|" + orvane::platform::ToUtf8(TextOf(window)) +
         "|" + std::to_string((rect.left + rect.right) / 2) + "|" +
         std::to_string((rect.top + rect.bottom) / 2) + "|" +
         (class_text == L"Button" ? CheckOf(window) : std::string()) + "|" +
         (::IsWindowEnabled(window) ? "enabled" : "disabled") + "|" +
         (window == focus ? "focused" : "") + "\n";
}

// `focus` is the window with the keyboard focus in the program's thread.
BOOL CALLBACK PrintChild(HWND child, LPARAM focus) {
  const std::string line = Line(child, reinterpret_cast<HWND>(focus));
  orvane::platform::WriteAll(::GetStdHandle(STD_OUTPUT_HANDLE), line.data(), line.size());
  return TRUE;
}

BOOL CALLBACK PrintIfTitled(HWND window, LPARAM title) {
  if (::IsWindowVisible(window) && TextOf(window) == reinterpret_cast<const wchar_t*>(title)) {
    GUITHREADINFO thread{};
    thread.cbSize = sizeof(thread);
    // Unlike GetFocus, reads the focus of another program's thread.
    if (!::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &thread)) {
      thread.hwndFocus = nullptr;
    }
    const auto focus = reinterpret_cast<LPARAM>(thread.hwndFocus);
    PrintChild(window, focus);
    ::EnumChildWindows(window, PrintChild, focus);
  }
  return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  ::EnumWindows(PrintIfTitled, reinterpret_cast<LPARAM>(argv[1]));
  return 0;
}
