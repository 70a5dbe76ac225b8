#include "conversion/batch_run.h"

#include <gtest/gtest.h>

#include <random>

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

// The counters of a run once it ended.
struct Counts {
  std::uint64_t folders_found, folders_done, files_found, files_done, bytes_found, bytes_read;
  bool operator==(const Counts&) const = default;
};

Counts Ended(const BatchProgress& progress) {
  return {progress.folders_found, progress.folders_done, progress.files_found,
          progress.files_done,    progress.bytes_found,  progress.bytes_read};
}

// A tree of courses converted on one thread or several: each thread's
// converter passes from course to course, and the reporting thread waits on
// the converting ones. The messages are those of the folders taken in order,
// each transcript is what converting its file alone gives, and the counters
// end at what the tree holds.
TEST(RunBatches, SeveralJobsOverATreeTellWhatOneJobTells) {
  TempDir dir;
  const fs::path root = dir / "courses";
  std::mt19937 random(7);
  std::vector<Message> expected;
  std::vector<std::pair<fs::path, NativeString>> files;  // caption file and its title
  std::uint64_t bytes = 0;
  for (int course = 0; course < 3; ++course) {
    const fs::path course_folder = root / ("course__" + std::to_string(course));
    const std::string title = "Course " + std::to_string(course);
    WriteFile(course_folder / "imsmanifest.xml", "<title>" + title + "</title>");
    for (int part = 0; part < 4; ++part) {
      const fs::path folder = course_folder / "media" / ("part" + std::to_string(part));
      for (int clip = 0; clip < 25; ++clip) {
        // clip3 is empty and its transcript path is taken by a folder: it fails unread.
        std::string captions;
        for (int cue = clip == 3 ? 0 : std::uniform_int_distribution(1, 60)(random); cue > 0;
             --cue) {
          captions += "00:00:01.000 --> 00:00:02.000\n<v>" + title + " cue " + std::to_string(cue) +
                      "</v>\n\n";
        }
        const fs::path file = folder / ("clip" + std::to_string(clip) + ".vtt");
        WriteFile(file, captions);
        if (clip != 3) files.emplace_back(file, Native(title));
        bytes += captions.size();
      }
      fs::create_directories(folder / "clip3.txt");
      expected.push_back({BatchMessage::kErrorOpening, (folder / "clip3.vtt").native()});
      expected.push_back(Completed(folder));
    }
  }
  for (const unsigned jobs : {1u, 4u}) {
    BatchProgress progress;
    RecordingReporter reporter;
    BatchOptions options;
    options.recursive = true;
    options.jobs = jobs;
    options.progress = &progress;
    RunBatches(root.native(), options, reporter);
    EXPECT_EQ(reporter.messages, expected) << jobs;
    EXPECT_EQ(Ended(progress), (Counts{12, 12, 300, 300, bytes, bytes})) << jobs;
    for (const auto& [file, title] : files) {
      const fs::path alone = dir / "alone.txt";
      ASSERT_EQ(ConvertCaptionFile(file, alone, title), ConversionResult::kConverted);
      ASSERT_EQ(ReadFile(fs::path(file).replace_extension(".txt")), ReadFile(alone))
          << jobs << " " << file;
    }
  }
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
