// Batch runs over what only POSIX file systems hold: FIFOs, symbolic links
// and devices.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "conversion/batch_run.h"
#include "tests/test_support.h"

namespace orvane {
namespace {

using namespace testing;  // the test helpers
namespace fs = std::filesystem;

TEST(RunBatch, SkipsFoldersNamedLikeCaptionFiles) {
  TempDir dir;
  fs::create_directories(dir / "captions" / "extra.vtt");
  fs::create_directories(dir / "elsewhere");
  fs::create_directory_symlink(dir / "elsewhere", dir / "captions" / "link.vtt");
  const auto before = TakeSnapshot(dir.path());
  EXPECT_EQ(RunBatchOn(dir / "captions"), std::vector<Message>{Completed(dir / "captions")});
  EXPECT_EQ(TakeSnapshot(dir.path()), before);
}

TEST(RunBatch, AFifoAsManifestGivesNoTitleLine) {
  TempDir dir;
  const fs::path folder = dir / "intro__2024" / "media" / "captions";
  WriteFile(folder / "a.vtt", "Hi\n");
  ::mkfifo((dir / "intro__2024" / "imsmanifest.xml").c_str(), 0600);
  EXPECT_EQ(RunBatchOn(folder), std::vector<Message>{Completed(folder)});
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
  RunBatch(folder.native(), TranscriptStyle::kDefault, reporter);
  std::vector<Message> messages = reporter.messages;
  ASSERT_EQ(messages.size(), 5u);
  EXPECT_EQ(messages.back(), Completed(folder));
  messages.pop_back();
  std::sort(messages.begin(), messages.end(),
            [](const Message& a, const Message& b) { return a.subject < b.subject; });
  EXPECT_EQ(messages, (std::vector<Message>{
                          {BatchMessage::kErrorOpening, (folder / "blocked.vtt").native()},
                          {BatchMessage::kErrorOpening, (folder / "dangling.vtt").native()},
                          {BatchMessage::kErrorOpening, (folder / "fifo.vtt").native()},
                          {BatchMessage::kErrorOpening, (folder / "full.vtt").native()},
                      }));
  EXPECT_EQ(ReadFile(folder / "good.txt"), "Good\r\n");
  EXPECT_EQ(ReadFile(folder / "fifo.txt"), "hand-edited");
  EXPECT_FALSE(fs::exists(folder / "dangling.txt"));
  EXPECT_TRUE(fs::is_symlink(folder / "full.txt"));  // never written through
}

}  // namespace
}  // namespace orvane
