// Entry point of orvane-convert on POSIX: arguments and paths are bytes.
#include <csignal>
#include <cstdio>

#include "cli/orvane_convert.h"

namespace {

class StdioConsole : public orvane::cli::Console {
 public:
  void Out(const orvane::cli::NativeString& line) override { Write(stdout, line); }
  void Err(const orvane::cli::NativeString& line) override {
    std::fflush(stdout);  // keep the two streams in order on a shared terminal
    Write(stderr, line);
  }
  bool ErrIsTerminal() override { return orvane::platform::StandardErrorIsTerminal(); }
  int ErrColumns() override { return orvane::platform::StandardErrorColumns(); }
  void ErrText(const orvane::cli::NativeString& text) override {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
  }

 private:
  static void Write(std::FILE* stream, const orvane::cli::NativeString& line) {
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fputc('\n', stream);
  }
};

}  // namespace

int main(int argc, char** argv) {
  // Before anything is opened: a closed standard stream's number would go to
  // the first file opened, and messages would land in a transcript.
  orvane::platform::GuardStandardStreams();
  orvane::platform::RemoveTemporariesOnSignals();
  // A write past a file-size limit or into a closed pipe fails with an error
  // that is reported, instead of ending the process silently.
  std::signal(SIGXFSZ, SIG_IGN);
  std::signal(SIGPIPE, SIG_IGN);
  std::vector<orvane::cli::NativeString> args(argv + 1, argv + argc);
  StdioConsole console;
  const int status = orvane::cli::RunOrvaneConvert(args, console);
  // A failed write to standard output (a closed pipe, a full disk) is a
  // failure too, told once when the batch is done.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fputs("orvane-convert: standard output: Error writing file(s).\n", stderr);
    return orvane::cli::kExitFailure;
  }
  return status;
}
