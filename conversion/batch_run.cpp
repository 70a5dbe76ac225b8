#include "conversion/batch_run.h"

#include <set>

#include "conversion/conversion.h"

namespace orvane {
namespace {

NativeString CourseTitleFor(const NativeString& folder) {
  NativeString course = folder;
  platform::RemoveLastComponent(course);
  platform::RemoveLastComponent(course);
  if (platform::LastComponent(course).find(platform::FromAscii("__")) == NativeString::npos) {
    return {};
  }
  return ReadCourseTitle(course);
}

// Moves `listing` to the next caption file, skipping other matches.
bool SkipToCaptionFile(platform::DirectoryListing& listing) {
  while (listing.ok() && !HasCaptionExtension(listing.name())) listing.Next();
  return listing.ok();
}

}  // namespace

bool IsError(BatchMessage message) { return message != BatchMessage::kFilesConverted; }

NativeString MessageText(BatchMessage message, const NativeString& folder) {
  switch (message) {
    case BatchMessage::kSelectFolderFirst:
      return platform::FromAscii("Please select a folder first.");
    case BatchMessage::kNoCaptionFiles:
      return platform::FromAscii("No .vtt files found in the selected folder.");
    case BatchMessage::kErrorOpening:
      return platform::FromAscii("Error opening file(s).");
    case BatchMessage::kErrorWriting:
      return platform::FromAscii("Error writing file(s).");
    case BatchMessage::kFilesConverted:
      return platform::FromAscii("Files converted to folder: ") + folder;
  }
  return {};
}

bool HasCaptionExtension(const NativeString& name) {
  constexpr std::string_view kExtension = ".vtt";
  if (name.size() < kExtension.size()) return false;
  const auto tail = name.size() - kExtension.size();
  for (std::size_t i = 0; i < kExtension.size(); ++i) {
    auto c = name[tail + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<platform::NativeChar>(c - 'A' + 'a');
    if (c != static_cast<platform::NativeChar>(kExtension[i])) return false;
  }
  return true;
}

void RunBatch(const NativeString& folder, TranscriptStyle style, BatchReporter& reporter) {
  if (folder.empty()) {
    reporter.Report(BatchMessage::kSelectFolderFirst, folder);
    return;
  }
  const NativeString title = CourseTitleFor(folder);

  platform::DirectoryListing listing(folder);
  if (!SkipToCaptionFile(listing)) {
    // Also when reading the folder failed before any caption file was found.
    reporter.Report(BatchMessage::kNoCaptionFiles, folder);
    return;
  }
  // One converter for the run: its buffers serve every file.
  CaptionConverter converter(title, style);
  NativeString input = folder;
  input += platform::PathSeparator();
  const std::size_t name_start = input.size();
  std::set<NativeString> written;  // transcript paths of this run
  do {
    if (listing.is_directory()) continue;
    // The separator is always inserted, even after a folder path that ends in one.
    input.replace(name_start, NativeString::npos, listing.name());
    NativeString output = MakeOutputPath(input);
    // Captions whose names differ only in case share a transcript path: the
    // first one keeps its transcript.
    if (written.count(output) != 0) {
      reporter.Report(BatchMessage::kErrorOpening, input);
      continue;
    }
    switch (converter.Convert(input, output)) {
      case ConversionResult::kConverted:
        written.insert(std::move(output));
        break;
      case ConversionResult::kOpenFailed:
        reporter.Report(BatchMessage::kErrorOpening, input);
        break;
      case ConversionResult::kWriteFailed:
        reporter.Report(BatchMessage::kErrorWriting, input);
        break;
    }
  } while (listing.Next() && SkipToCaptionFile(listing));
  // Entries after a failed read of the folder were never seen: the folder
  // itself could not be read completely.
  if (listing.failed()) reporter.Report(BatchMessage::kErrorOpening, folder);
  reporter.Report(BatchMessage::kFilesConverted, folder);
}

}  // namespace orvane
