#include "conversion/batch_run.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace orvane {
namespace {

using namespace testing;  // the test helpers
namespace fs = std::filesystem;

constexpr std::string_view kCaptions = "WEBVTT\n\n1\n00:00:01.000 --> 00:00:02.000\n<v>Hello</v>\n";

TEST(RunBatch, AsksForAFolderFirst) {
  RecordingReporter reporter;
  RunBatch(Native(""), TranscriptStyle::kDefault, reporter);
  EXPECT_EQ(reporter.messages,
            (std::vector<Message>{{BatchMessage::kSelectFolderFirst, Native("")}}));
}

TEST(RunBatch, ReportsFoldersWithoutCaptionFiles) {
  TempDir dir;
  WriteFile(dir / "empty" / "notes.txt", "x");
  WriteFile(dir / "almost" / "clip.vttx", "x");
  WriteFile(dir / "almost" / "clip.vtt.bak", "x");
  WriteFile(dir / "almost" / "vtt", "x");
  for (const fs::path& folder :
       {dir / "empty", dir / "almost", dir / "missing", dir / "empty" / "notes.txt"}) {
    EXPECT_EQ(RunBatchOn(folder),
              (std::vector<Message>{{BatchMessage::kNoCaptionFiles, folder.native()}}))
        << folder;
  }
  EXPECT_FALSE(fs::exists(dir / "almost" / "clip.txt"));
}

TEST(RunBatch, ConvertsEveryCaptionFileBesideIt) {
  TempDir dir;
  const fs::path folder = dir / "captions";
  WriteFile(folder / "lesson1.vtt", kCaptions);
  WriteFile(folder / "LESSON2.VTT", "WEBVTT\r\n\r\nSecond\r\n");
  WriteFile(folder / "part.one.Vtt", "One\n");
  WriteFile(folder / "notes.md", "untouched");
  EXPECT_EQ(RunBatchOn(folder), std::vector<Message>{Completed(folder)});
  EXPECT_EQ(ReadFile(folder / "lesson1.txt"), "Hello\r\n");
  EXPECT_EQ(ReadFile(folder / "LESSON2.txt"), "Second\r\n");
  EXPECT_EQ(ReadFile(folder / "part.one.txt"), "One\r\n");
  EXPECT_EQ(ReadFile(folder / "notes.md"), "untouched");
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 7);

  // A second run rewrites the same transcripts rather than appending.
  EXPECT_EQ(RunBatchOn(folder), std::vector<Message>{Completed(folder)});
  EXPECT_EQ(ReadFile(folder / "lesson1.txt"), "Hello\r\n");
}

struct TitleCase {
  std::string_view selected;  // relative to the temporary folder
  std::string_view first_line;
};

TEST(RunBatch, HeadsTranscriptsWithTheCourseTitleTwoLevelsUp) {
  const TitleCase cases[] = {
      {"intro__2024/media/captions", "Safety Basics.\r\n"},
      {"a__b__c/x/y", "Safety Basics.\r\n"},
      {"__/x/y", "Safety Basics.\r\n"},
      {"intro_2024/media/captions", ""},
      {"intro/media__x/captions", ""},
      {"intro/media/captions__x", ""},
      {"intro__2024/captions", ""},
  };
  for (const TitleCase& c : cases) {
    TempDir dir;
    const fs::path folder = dir / fs::path(c.selected).make_preferred();
    const fs::path course = folder.parent_path().parent_path();
    WriteFile(course / "imsmanifest.xml", "<manifest><title>Safety Basics</title></manifest>");
    WriteFile(folder.parent_path() / "imsmanifest.xml", "<title>Wrong level</title>");
    WriteFile(folder / "imsmanifest.xml", "<title>Wrong level</title>");
    WriteFile(folder / "a.vtt", "Hi\n");
    WriteFile(folder / "b.vtt", "");
    EXPECT_EQ(RunBatchOn(folder), std::vector<Message>{Completed(folder)}) << c.selected;
    EXPECT_EQ(ReadFile(folder / "a.txt"), std::string(c.first_line) + "Hi\r\n") << c.selected;
    EXPECT_EQ(ReadFile(folder / "b.txt"), c.first_line) << c.selected;
  }
}

TEST(RunBatch, ManifestWithoutTitleGivesNoTitleLine) {
  TempDir dir;
  const fs::path folder = dir / "intro__2024" / "media" / "captions";
  WriteFile(dir / "intro__2024" / "imsmanifest.xml", "<manifest/>");
  WriteFile(folder / "a.vtt", "Hi\n");
  EXPECT_EQ(RunBatchOn(folder), std::vector<Message>{Completed(folder)});
  EXPECT_EQ(ReadFile(folder / "a.txt"), "Hi\r\n");
}

TEST(RunBatch, AlwaysInsertsTheSeparator) {
  TempDir dir;
  WriteFile(dir / "captions" / "a.vtt", "Hi\n");
  const NativeString folder = (dir / "captions").native() + platform::PathSeparator();
  RecordingReporter reporter;
  RunBatch(folder, TranscriptStyle::kDefault, reporter);
  EXPECT_EQ(reporter.messages, (std::vector<Message>{{BatchMessage::kFilesConverted, folder}}));
  EXPECT_EQ(ReadFile(dir / "captions" / "a.txt"), "Hi\r\n");
}

TEST(BatchMessage, TextsAreTheDialogTexts) {
  const NativeString x = Native("/x");
  EXPECT_EQ(MessageText(BatchMessage::kSelectFolderFirst, x),
            Native("Please select a folder first."));
  EXPECT_EQ(MessageText(BatchMessage::kNoCaptionFiles, x),
            Native("No .vtt files found in the selected folder."));
  EXPECT_EQ(MessageText(BatchMessage::kErrorOpening, x), Native("Error opening file(s)."));
  EXPECT_EQ(MessageText(BatchMessage::kErrorWriting, x), Native("Error writing file(s)."));
  EXPECT_EQ(MessageText(BatchMessage::kFilesConverted, x), Native("Files converted to folder: /x"));
  EXPECT_FALSE(IsError(BatchMessage::kFilesConverted));
  EXPECT_TRUE(IsError(BatchMessage::kErrorWriting));
}

}  // namespace
}  // namespace orvane
