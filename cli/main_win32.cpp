// Entry point of orvane-convert.exe on Windows: arguments and paths are
// UTF-16. A line for a console is written as UTF-16 with WriteConsoleW, so
// any name shows whatever the console's code page; a line for a file or a
// pipe is written as UTF-8, the encoding that scripts and the Linux build use.
#include <windows.h>

#include <string>

#include "cli/orvane_convert.h"
#include "platform/win32_io.h"

namespace {

class Win32Console : public orvane::cli::Console {
 public:
  void Out(const orvane::cli::NativeString& line) override {
    Write(::GetStdHandle(STD_OUTPUT_HANDLE), line);
  }
  void Err(const orvane::cli::NativeString& line) override {
    Write(::GetStdHandle(STD_ERROR_HANDLE), line);
  }

  bool ErrIsTerminal() override { return orvane::platform::StandardErrorIsTerminal(); }
  int ErrColumns() override { return orvane::platform::StandardErrorColumns(); }
  void ErrText(const orvane::cli::NativeString& text) override {
    const HANDLE stream = ::GetStdHandle(STD_ERROR_HANDLE);
    if (IsConsole(stream)) {
      WriteUtf16ToConsole(stream, text);
    } else {
      WriteUtf8(stream, text);
    }
  }

  // True while every write to standard output succeeded.
  bool out_ok() const { return out_ok_; }

 private:
  void Write(HANDLE stream, const std::wstring& line) {
    const bool ok = IsConsole(stream) ? WriteUtf16ToConsole(stream, line + L"\r\n")
                                      : WriteUtf8(stream, line + L"\r\n");
    if (!ok && stream == ::GetStdHandle(STD_OUTPUT_HANDLE)) out_ok_ = false;
  }

  static bool WriteUtf8(HANDLE stream, const std::wstring& text) {
    const std::string bytes = orvane::platform::ToUtf8(text);
    return orvane::platform::WriteAll(stream, bytes.data(), bytes.size());
  }

  static bool IsConsole(HANDLE stream) {
    DWORD mode;
    return ::GetConsoleMode(stream, &mode) != 0;
  }

  // Not named WriteConsole: windows.h defines that as a macro for
  // WriteConsoleA or WriteConsoleW.
  static bool WriteUtf16ToConsole(HANDLE stream, const std::wstring& text) {
    DWORD written = 0;
    return ::WriteConsoleW(stream, text.data(), static_cast<DWORD>(text.size()), &written,
                           nullptr) &&
           written == text.size();
  }

  bool out_ok_ = true;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<orvane::cli::NativeString> args(argv + 1, argv + argc);
  Win32Console console;
  const int status = orvane::cli::RunOrvaneConvert(args, console);
  // A failed write to standard output (a closed pipe, a full disk) is a
  // failure too, told once when the batch is done.
  if (!console.out_ok()) {
    console.Err(L"orvane-convert: standard output: Error writing file(s).");
    return orvane::cli::kExitFailure;
  }
  return status;
}
