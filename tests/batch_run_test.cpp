#include "conversion/batch_run.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/test_support.h"

namespace orvane {
namespace {

using testing::Message;
using testing::ReadFile;
using testing::RecordingReporter;
using testing::TakeSnapshot;
using testing::TempDir;
using testing::WriteFile;
namespace fs = std::filesystem;

constexpr std::string_view kCaptions = "WEBVTT\n\n1\n00:00:01.000 --> 00:00:02.000\n<v>Hello</v>\n";

std::vector<Message> RunOn(const fs::path& folder) {
  RecordingReporter reporter;
  RunBatch(folder.native(), reporter);
  return reporter.messages;
}

Message Done(const fs::path& folder) { return {BatchMessage::kFilesConverted, folder.native()}; }

TEST(RunBatch, AsksForAFolderFirst) {
  RecordingReporter reporter;
  RunBatch("", reporter);
  EXPECT_EQ(reporter.messages, (std::vector<Message>{{BatchMessage::kSelectFolderFirst, ""}}));
}

TEST(RunBatch, ReportsFoldersWithoutCaptionFiles) {
  TempDir dir;
  WriteFile(dir / "empty" / "notes.txt", "x");
  WriteFile(dir / "almost" / "clip.vttx", "x");
  WriteFile(dir / "almost" / "clip.vtt.bak", "x");
  WriteFile(dir / "almost" / "vtt", "x");
  for (const fs::path& folder :
       {dir / "empty", dir / "almost", dir / "missing", dir / "empty" / "notes.txt"}) {
    EXPECT_EQ(RunOn(folder),
              (std::vector<Message>{{BatchMessage::kNoCaptionFiles, folder.native()}}))
        << folder;
  }
  EXPECT_FALSE(fs::exists(dir / "almost" / "clip.txt"));
}

TEST(RunBatch, SkipsFoldersNamedLikeCaptionFiles) {
  TempDir dir;
  fs::create_directories(dir / "captions" / "extra.vtt");
  fs::create_directories(dir / "elsewhere");
  fs::create_directory_symlink(dir / "elsewhere", dir / "captions" / "link.vtt");
  const auto before = TakeSnapshot(dir.path());
  EXPECT_EQ(RunOn(dir / "captions"), std::vector<Message>{Done(dir / "captions")});
  EXPECT_EQ(TakeSnapshot(dir.path()), before);
}

TEST(RunBatch, ConvertsEveryCaptionFileBesideIt) {
  TempDir dir;
  const fs::path folder = dir / "captions";
  WriteFile(folder / "lesson1.vtt", kCaptions);
  WriteFile(folder / "LESSON2.VTT", "WEBVTT\r\n\r\nSecond\r\n");
  WriteFile(folder / "part.one.Vtt", "One\n");
  WriteFile(folder / "notes.md", "untouched");
  EXPECT_EQ(RunOn(folder), std::vector<Message>{Done(folder)});
  EXPECT_EQ(ReadFile(folder / "lesson1.txt"), "Hello\r\n");
  EXPECT_EQ(ReadFile(folder / "LESSON2.txt"), "Second\r\n");
  EXPECT_EQ(ReadFile(folder / "part.one.txt"), "One\r\n");
  EXPECT_EQ(ReadFile(folder / "notes.md"), "untouched");
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 7);

  // A second run rewrites the same transcripts rather than appending.
  EXPECT_EQ(RunOn(folder), std::vector<Message>{Done(folder)});
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
    const fs::path folder = dir / c.selected;
    const fs::path course = folder.parent_path().parent_path();
    WriteFile(course / "imsmanifest.xml", "<manifest><title>Safety Basics</title></manifest>");
    WriteFile(folder.parent_path() / "imsmanifest.xml", "<title>Wrong level</title>");
    WriteFile(folder / "imsmanifest.xml", "<title>Wrong level</title>");
    WriteFile(folder / "a.vtt", "Hi\n");
    WriteFile(folder / "b.vtt", "");
    EXPECT_EQ(RunOn(folder), std::vector<Message>{Done(folder)}) << c.selected;
    EXPECT_EQ(ReadFile(folder / "a.txt"), std::string(c.first_line) + "Hi\r\n") << c.selected;
    EXPECT_EQ(ReadFile(folder / "b.txt"), c.first_line) << c.selected;
  }
}

TEST(RunBatch, ManifestWithoutTitleGivesNoTitleLine) {
  TempDir dir;
  const fs::path folder = dir / "intro__2024" / "media" / "captions";
  WriteFile(dir / "intro__2024" / "imsmanifest.xml", "<manifest/>");
  WriteFile(folder / "a.vtt", "Hi\n");
  EXPECT_EQ(RunOn(folder), std::vector<Message>{Done(folder)});
  EXPECT_EQ(ReadFile(folder / "a.txt"), "Hi\r\n");
  fs::remove(dir / "intro__2024" / "imsmanifest.xml");
  ::mkfifo((dir / "intro__2024" / "imsmanifest.xml").c_str(), 0600);
  EXPECT_EQ(RunOn(folder), std::vector<Message>{Done(folder)});
  EXPECT_EQ(ReadFile(folder / "a.txt"), "Hi\r\n");
}

TEST(RunBatch, GoesOnPastFilesThatFail) {
  TempDir dir;
  const fs::path folder = dir / "captions";
  WriteFile(folder / "good.vtt", "Good\n");
  WriteFile(folder / "blocked.vtt", "Blocked\n");
  fs::create_directory(folder / "blocked.txt");
  ::mkfifo((folder / "fifo.vtt").c_str(), 0600);
  WriteFile(folder / "fifo.txt", "hand-edited");
  fs::create_symlink(folder / "gone", folder / "dangling.vtt");
  WriteFile(folder / "full.vtt", "Full\n");
  fs::create_symlink("/dev/full", folder / "full.txt");

  RecordingReporter reporter;
  RunBatch(folder.native(), reporter);
  std::vector<Message> messages = reporter.messages;
  ASSERT_EQ(messages.size(), 5u);
  EXPECT_EQ(messages.back(), Done(folder));
  messages.pop_back();
  std::sort(messages.begin(), messages.end(),
            [](const Message& a, const Message& b) { return a.subject < b.subject; });
  EXPECT_EQ(messages, (std::vector<Message>{
                          {BatchMessage::kErrorOpening, (folder / "blocked.vtt").native()},
                          {BatchMessage::kErrorOpening, (folder / "dangling.vtt").native()},
                          {BatchMessage::kErrorOpening, (folder / "fifo.vtt").native()},
                          {BatchMessage::kErrorWriting, (folder / "full.vtt").native()},
                      }));
  EXPECT_EQ(ReadFile(folder / "good.txt"), "Good\r\n");
  EXPECT_EQ(ReadFile(folder / "fifo.txt"), "hand-edited");
  EXPECT_FALSE(fs::exists(folder / "dangling.txt"));
}

TEST(RunBatch, AlwaysInsertsTheSeparator) {
  TempDir dir;
  WriteFile(dir / "captions" / "a.vtt", "Hi\n");
  const NativeString folder = (dir / "captions").native() + "/";
  RecordingReporter reporter;
  RunBatch(folder, reporter);
  EXPECT_EQ(reporter.messages, (std::vector<Message>{{BatchMessage::kFilesConverted, folder}}));
  EXPECT_EQ(ReadFile(dir / "captions" / "a.txt"), "Hi\r\n");
}

TEST(BatchMessage, TextsAreTheDialogTexts) {
  EXPECT_EQ(MessageText(BatchMessage::kSelectFolderFirst, "/x"), "Please select a folder first.");
  EXPECT_EQ(MessageText(BatchMessage::kNoCaptionFiles, "/x"),
            "No .vtt files found in the selected folder.");
  EXPECT_EQ(MessageText(BatchMessage::kErrorOpening, "/x"), "Error opening file(s).");
  EXPECT_EQ(MessageText(BatchMessage::kErrorWriting, "/x"), "Error writing file(s).");
  EXPECT_EQ(MessageText(BatchMessage::kFilesConverted, "/x"), "Files converted to folder: /x");
  EXPECT_FALSE(IsError(BatchMessage::kFilesConverted));
  EXPECT_TRUE(IsError(BatchMessage::kErrorWriting));
}

}  // namespace
}  // namespace orvane
