// The command-line converter: runs the batch run once per folder argument.
#pragma once

#include <vector>

#include "platform/platform.h"

namespace orvane::cli {

using platform::NativeString;

// Where the converter writes its lines. Each call is one whole line, without
// its line end.
class Console {
 public:
  virtual ~Console() = default;
  virtual void Out(const NativeString& line) = 0;
  virtual void Err(const NativeString& line) = 0;
};

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// Runs `orvane-convert` with `args` (without the program name). Returns the
// exit status: 0 when every file converted, 1 after any error message, 2 on a
// usage error.
int RunOrvaneConvert(const std::vector<NativeString>& args, Console& console);

// Returns `folder` as the system resolves it (see platform::ResolvePath); when
// it cannot be resolved, made absolute and lexically normal, without a
// trailing separator unless it is a root. An empty `folder` stays empty.
NativeString NormalizeFolder(const NativeString& folder);

// Returns `text` with its control characters (below U+0020, and U+007F)
// written as \n, \t, \e or \xHH, so that a terminal shows a name instead of
// acting on it.
NativeString EscapeControls(const NativeString& text);

}  // namespace orvane::cli
