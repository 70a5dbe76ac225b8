// The command-line converter: runs the batch run once per folder argument.
#pragma once

#include <vector>

#include "conversion/batch_run.h"
#include "platform/platform.h"

namespace orvane::cli {

using platform::NativeString;

// Where the converter writes its lines. Each call of Out and Err is one whole
// line, without its line end. Calls may come from more than one thread, never
// at the same time.
class Console {
 public:
  virtual ~Console() = default;
  virtual void Out(const NativeString& line) = 0;
  virtual void Err(const NativeString& line) = 0;
  // True when standard error is a terminal that can show a status line.
  virtual bool ErrIsTerminal() { return false; }
  // The terminal's width in columns, or 0 when unknown.
  virtual int ErrColumns() { return 0; }
  // Writes `text` to standard error as it is, without a line end, at once.
  virtual void ErrText(const NativeString& /*text*/) {}
};

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// Runs `orvane-convert` with `args` (without the program name). Returns the
// exit status: 0 when every file converted, 1 after any error message, 2 on a
// usage error. With the argument "-", converts standard input to standard
// output (platform::ReadStandardInput, platform::WriteStandardOutput).
int RunOrvaneConvert(const std::vector<NativeString>& args, Console& console);

// The text of the progress line for `progress`, `seconds` into a run: folders
// and files done of those found so far, caption bytes read of those found
// with the share read, and the reading speed, as in
// "3/12 folders, 1204/3310 files, 412 MB of 1.2 GB (34%), 412.5 MB/s".
// Byte counts are in decimal units (as MB/s is) with at most three digits;
// the share is left out while no bytes are found.
NativeString ProgressText(const BatchProgress& progress, double seconds);

// Returns `folder` as the system resolves it (see platform::ResolvePath); when
// it cannot be resolved, made absolute and lexically normal, without a
// trailing separator unless it is a root. An empty `folder` stays empty.
NativeString NormalizeFolder(const NativeString& folder);

// Returns `text` with its control characters (below U+0020, and U+007F)
// written as \n, \t, \e or \xHH, so that a terminal shows a name instead of
// acting on it.
NativeString EscapeControls(const NativeString& text);

}  // namespace orvane::cli
