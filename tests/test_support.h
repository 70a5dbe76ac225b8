// Helpers shared by the tests: scratch folders, whole-file reads and writes,
// and a reporter that records every message of a batch run.
#pragma once

#include <filesystem>
#include <map>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "conversion/batch_run.h"
#include "conversion/transcriber.h"
#include "tests/oracle/clean_reference.h"

namespace orvane::testing {

namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder, removed with everything
// in it by the destructor.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const fs::path& path() const { return path_; }
  // `relative` inside this folder.
  fs::path operator/(const fs::path& relative) const { return path_ / relative; }

 private:
  fs::path path_;
};

// `utf8` as native text: UTF-16 on Windows, the bytes themselves elsewhere.
NativeString Native(std::string_view utf8);

// Writes `bytes` to `path`, creating its parent folders.
void WriteFile(const fs::path& path, std::string_view bytes);
// Returns the bytes of `path`; fails the current test when it cannot be read.
std::string ReadFile(const fs::path& path);

// The transcript (without a title) of `file`, fed to `transcriber` in pieces
// of `piece` bytes and written out after each; long lines are read again from
// `file` itself.
std::string TranscribeInPieces(Transcriber& transcriber, std::string_view file, std::size_t piece);

// The plain reference's name of the caption format `format`.
oracle::Format OracleFormat(CaptionFormat format);

// Expects the cue list of the caption file `file`, read as `format`, to be
// the plain reference's reading of it.
void ExpectCueListMatchesReference(std::string_view file, CaptionFormat format);

// Random caption text made of the tokens that the default filter's matchers
// look at: digits, timings, tags, "WEBVTT", CR, LF and Ctrl-Z.
class TokenSoup {
 public:
  explicit TokenSoup(unsigned seed) : random_(seed) {}
  // Up to `max_tokens` tokens.
  std::string Line(int max_tokens);

 private:
  std::mt19937 random_;
};

// One message of a batch run, as the user would see it.
struct Message {
  BatchMessage kind;
  NativeString subject;
  bool operator==(const Message&) const = default;
};
// Shows a message in test failures as its kind and subject (as UTF-8).
void PrintTo(const Message& message, std::ostream* out);

class RecordingReporter : public BatchReporter {
 public:
  void Report(BatchMessage message, const NativeString& subject) override {
    messages.push_back({message, subject});
  }
  std::vector<Message> messages;
};

// Runs a batch over `folder` and returns every message it reported.
std::vector<Message> RunBatchOn(const fs::path& folder,
                                TranscriptStyle style = TranscriptStyle::kDefault);
// The completion message of a run over `folder`.
Message Completed(const fs::path& folder);

// Names (relative, with '/' between components) and contents of every file
// and link under a folder; links are recorded by their targets, files larger
// than 1 MiB by their size and a digest of their bytes. The permission bits of
// every file and folder are recorded under the name followed by " (mode)".
using Snapshot = std::map<std::string, std::string>;
Snapshot TakeSnapshot(const fs::path& folder);

// Fails the current test unless `folder` still holds exactly what `before`
// recorded, except for the `transcripts` (names relative to `folder`), which
// must now be regular files. Returns the snapshot taken after the run.
Snapshot ExpectOnlyTranscriptsChanged(const fs::path& folder, const Snapshot& before,
                                      const std::set<std::string>& transcripts);

}  // namespace orvane::testing
