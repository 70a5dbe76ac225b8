// The batch run: converts every caption file of one folder and reports what
// happened through BatchReporter, so that each front end decides how to show it.
#pragma once

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
};

// True when `name` ends in ".vtt", compared without regard to ASCII case.
bool HasCaptionExtension(const NativeString& name);

// Converts every caption file in `folder` into a transcript in `style` beside
// it, headed by the course title when the folder two levels up has "__" in
// its name.
// Files are taken in the order the directory listing returns them. When the
// folder cannot be listed, or reading it fails before any caption file is
// found, the run reports kNoCaptionFiles alone; a failure after that is
// reported as kErrorOpening for the folder before the completion message.
void RunBatch(const NativeString& folder, TranscriptStyle style, BatchReporter& reporter);

}  // namespace orvane
