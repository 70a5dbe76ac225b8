// The batch run: converts every caption file of one folder and reports what
// happened through BatchReporter, so that each front end decides how to show it.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>

#include "conversion/conversion.h"
#include "platform/platform.h"

namespace orvane {

using platform::NativeString;

enum class BatchMessage {
  kSelectFolderFirst,  // the folder path is empty
  kNoCaptionFiles,     // the folder cannot be listed or holds no caption file
  kErrorOpening,       // one caption file could not be opened, or its transcript created;
                       // or the folder could not be read to its end
  kErrorWriting,       // one transcript could not be written completely
  kFilesConverted,     // the run went through every caption file of the folder
};

// True for the messages that tell of a failure.
bool IsError(BatchMessage message);

// The exact text a user sees for `message`. `folder` fills in the folder of
// the completion message and is ignored otherwise.
NativeString MessageText(BatchMessage message, const NativeString& folder);

class BatchReporter {
 public:
  virtual ~BatchReporter() = default;
  // Receives each message of a run, in order. `subject` is the caption file
  // for kErrorOpening and kErrorWriting (the folder when reading the folder
  // failed part way), and the folder for the others.
  virtual void Report(BatchMessage message, const NativeString& subject) = 0;
  // Receives each caption file of a run as it is reported, before any
  // message about it: its folder's path, its name there and how its
  // conversion went (kConverted for every file of a run that only lists).
  virtual void File(const NativeString& /*folder*/, const NativeString& /*name*/,
                    ConversionResult /*result*/) {}
};

// Converts every caption file in `folder` into a transcript in `style` beside
// it, headed by the course title when the folder two levels up has "__" in
// its name.
// Files are taken in the order the directory listing returns them. When the
// folder cannot be listed, or reading it fails before any caption file is
// found, the run reports kNoCaptionFiles alone; a failure after that is
// reported as kErrorOpening for the folder before the completion message.
void RunBatch(const NativeString& folder, TranscriptStyle style, BatchReporter& reporter);

// How far a run has come, for a progress display on another thread. Counts
// only grow; "found" counts grow as folders are listed, never ahead of them.
struct BatchProgress {
  std::atomic<std::uint64_t> folders_found{0};  // folders converted as a batch
  std::atomic<std::uint64_t> folders_done{0};   // of them, reported complete
  std::atomic<std::uint64_t> files_found{0};    // caption files to convert
  std::atomic<std::uint64_t> files_done{0};     // of them, reported
  // The sizes of the caption files found, as the listing gives them; a file
  // whose size cannot be had (a FIFO, a dangling link) counts 0.
  std::atomic<std::uint64_t> bytes_found{0};
  // Caption bytes read so far. At the end of a run it is bytes_found, unless
  // a file was not read in full (it failed, or its transcript path was taken)
  // or changed since it was listed.
  std::atomic<std::uint64_t> bytes_read{0};
};

struct BatchOptions {
  TranscriptStyle style = TranscriptStyle::kDefault;
  // Caption files converted at once, each on its own thread; 1 converts them
  // one after another on the calling thread.
  unsigned jobs = 1;
  // Converts every folder of the tree under the folder, not just the folder.
  bool recursive = false;
  // Converts the SubRip (.srt) and SBV (.sbv) files too, with a clean style;
  // a file whose transcript a file of an earlier format of .vtt, .srt, .sbv
  // gives is passed over without a message.
  bool all_formats = false;
  // Writes a web page NAME.html beside each transcript NAME.txt (clean
  // styles), in `language` (a language tag, or "" for none) when the caption
  // file tells none; its failure fails the file.
  bool html = false;
  std::string language;
  // Converts nothing: reports the caption files a run would convert, in its
  // order, through BatchReporter::File, and its folder messages as it would,
  // so that ConvertListed can convert them elsewhere, in parts.
  bool list_only = false;
  // Updated as the run goes when not null.
  BatchProgress* progress = nullptr;
};

// Runs RunBatch over `folder` with `options`, reporting every message from the
// calling thread, in the same order and with the same text whatever the
// number of jobs. Memory grows with the number of jobs, not with the number
// of files.
// With `recursive`, `folder` is the root of a tree: each folder in it that
// holds caption files is converted as RunBatch converts it on its own, in the
// order of a depth-first walk that takes a folder before its sub-folders and
// sub-folders sorted by name. Links to folders are not followed. A sub-folder
// that cannot be read is reported with kNoCaptionFiles and the walk goes on;
// a tree without caption files gives kNoCaptionFiles once, for `folder`.
void RunBatches(const NativeString& folder, const BatchOptions& options, BatchReporter& reporter);

// Converts the caption files `names` of `folder`, in order, as a run over the
// folder converts them: with its course title, and of two files with one
// transcript name the later writes it only when the earlier did not. Reports
// each file through BatchReporter::File, then its failure message; no folder
// messages. A folder that cannot be opened fails every file with kOpenFailed.
// With a list-only run's files, cut into parts that each hold every file of
// one transcript name, the parts may be converted anywhere, in any order, and
// give the run's transcripts and messages.
void ConvertListed(const NativeString& folder, std::span<const NativeString> names,
                   const BatchOptions& options, BatchReporter& reporter);

}  // namespace orvane
