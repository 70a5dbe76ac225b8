// Batch runs over what only POSIX file systems hold: FIFOs, symbolic links
// and devices.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "conversion/batch_run.h"
#include "conversion/naming.h"
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

// The bytes found count a caption file reached through a link as its target
// and what has no size (a FIFO, a dangling link) as 0; captions that share a
// transcript path all count as found, and only the one that writes it is read.
// Several threads tell what one tells.
TEST(RunBatches, CountsTheBytesOfWhatItLists) {
  TempDir dir;
  const fs::path folder = dir / "captions";
  const std::string good = "WEBVTT\n\n00:01.000 --> 00:02.000\nGood\n";
  const std::string lesson = "Lesson\n";
  WriteFile(folder / "good.vtt", good);
  fs::create_symlink("good.vtt", folder / "link.vtt");
  ::mkfifo((folder / "fifo.vtt").c_str(), 0600);
  fs::create_symlink("gone.vtt", folder / "dangling.vtt");
  WriteFile(folder / "lesson.vtt", lesson);
  WriteFile(folder / "lesson.VTT", lesson);

  std::vector<Message> one_job;
  for (const unsigned jobs : {1u, 4u}) {
    BatchProgress progress;
    RecordingReporter reporter;
    BatchOptions options;
    options.jobs = jobs;
    options.progress = &progress;
    RunBatches(folder.native(), options, reporter);
    EXPECT_EQ(progress.files_found, 6u);
    EXPECT_EQ(progress.files_done, 6u);
    EXPECT_EQ(progress.bytes_found, 2 * good.size() + 2 * lesson.size()) << jobs;
    EXPECT_EQ(progress.bytes_read, 2 * good.size() + lesson.size()) << jobs;
    ASSERT_EQ(reporter.messages.size(), 4u) << jobs;
    EXPECT_EQ(reporter.messages.back(), Completed(folder));
    if (jobs == 1) one_job = reporter.messages;
    EXPECT_EQ(reporter.messages, one_job) << jobs;
  }
  EXPECT_EQ(ReadFile(folder / "lesson.txt"), "Lesson\r\n");
}

// With every format asked for, a folder's .srt and .sbv files are converted
// beside its .vtt files. Of caption files that would write one transcript,
// only the first of .vtt, .srt, .sbv is converted, by name alone (one that
// cannot be read still passes the others over), and the others get no
// message; two of one format keep the rule of two .vtt files.
TEST(RunBatches, EveryFormatAndWhichFileWritesATranscript) {
  const std::string vtt = "WEBVTT\n\n00:01.000 --> 00:02.000\nfrom vtt\n";
  const std::string srt = "1\n00:00:01,000 --> 00:00:02,000\n{\\an8}<i>from srt</i>\n";
  const std::string sbv = "0:00:01.000,0:00:02.000\nfrom sbv\n";
  struct FormatCase {
    std::string_view name;
    std::vector<std::pair<std::string, std::string>> files;  // "fifo" and "dangling" make those
    bool all_formats;
    std::map<std::string, std::string> transcripts;  // "" for none
    std::vector<std::string> failed;                 // caption files told "Error opening file(s)."
    bool none_found = false;
  };
  const FormatCase cases[] = {
      {"each format alone",
       {{"a.vtt", vtt}, {"b.srt", srt}, {"c.sbv", sbv}},
       true,
       {{"a.txt", "from vtt\r\n"}, {"b.txt", "from srt\r\n"}, {"c.txt", "from sbv\r\n"}},
       {}},
      {"only .vtt unless asked",
       {{"a.vtt", vtt}, {"b.srt", srt}, {"c.sbv", sbv}},
       false,
       {{"a.txt", "from vtt\r\n"}, {"b.txt", ""}, {"c.txt", ""}},
       {}},
      {"no .vtt file, not asked",
       {{"b.srt", srt}, {"c.SBV", sbv}},
       false,
       {{"b.txt", ""}},
       {},
       true},
      {".vtt before .srt before .sbv, whatever the case of the extension",
       {{"a.SBV", sbv}, {"a.Srt", srt}, {"a.vtt", vtt}, {"b.sbv", sbv}, {"b.SRT", srt}},
       true,
       {{"a.txt", "from vtt\r\n"}, {"b.txt", "from srt\r\n"}},
       {}},
      {"a .vtt that cannot be read still passes the others over",
       {{"a.vtt", "fifo"}, {"a.srt", srt}, {"b.srt", "dangling"}, {"b.sbv", sbv}},
       true,
       {{"a.txt", ""}, {"b.txt", ""}},
       {"a.vtt", "b.srt"}},
      {"two of one format: the later fails",
       {{"a.srt", srt}, {"a.SRT", srt}},
       true,
       {{"a.txt", "from srt\r\n"}},
       {"LATER"}},
  };
  for (const FormatCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const fs::path folder = dir / "captions";
    fs::create_directories(folder);
    for (const auto& [name, text] : c.files) {
      if (text == "fifo") {
        ::mkfifo((folder / name).c_str(), 0600);
      } else if (text == "dangling") {
        fs::create_symlink("gone", folder / name);
      } else {
        WriteFile(folder / name, text);
      }
    }
    RecordingReporter reporter;
    BatchOptions options;
    options.style = TranscriptStyle::kClean;
    options.all_formats = c.all_formats;
    RunBatches(folder.native(), options, reporter);
    std::vector<Message> messages = reporter.messages;
    if (c.none_found) {
      EXPECT_EQ(messages, (std::vector<Message>{{BatchMessage::kNoCaptionFiles, folder.native()}}));
    } else {
      ASSERT_FALSE(messages.empty());
      EXPECT_EQ(messages.back(), Completed(folder));
      messages.pop_back();
      ASSERT_EQ(messages.size(), c.failed.size());
      for (std::size_t i = 0; i < messages.size(); ++i) {
        EXPECT_EQ(messages[i].kind, BatchMessage::kErrorOpening);
        // Of two names of one format, which one the listing gives later is its own affair.
        if (c.failed[i] != "LATER") {
          EXPECT_EQ(messages[i].subject, (folder / c.failed[i]).native());
        }
      }
    }
    for (const auto& [name, text] : c.transcripts) {
      if (text.empty()) {
        EXPECT_FALSE(fs::exists(folder / name)) << name;
      } else {
        EXPECT_EQ(ReadFile(folder / name), text) << name;
      }
    }
  }
}

// Records the files and messages of a run in order, paths relative to `root`.
class EventRecorder : public BatchReporter {
 public:
  explicit EventRecorder(const fs::path& root) : root_(root) {}
  void File(const NativeString& folder, const NativeString& name,
            ConversionResult result) override {
    events.push_back("file " + Relative(fs::path(folder) / name) + " " +
                     std::to_string(static_cast<int>(result)));
    files.emplace_back(folder, name);
  }
  void Report(BatchMessage message, const NativeString& subject) override {
    events.push_back("message " + std::to_string(static_cast<int>(message)) + " " +
                     Relative(subject));
  }
  std::vector<std::string> events;
  std::vector<std::pair<NativeString, NativeString>> files;  // folder, name

 private:
  std::string Relative(const fs::path& path) const {
    return path.lexically_relative(root_).generic_string();
  }
  fs::path root_;
};

// A tree of what decides which file writes a transcript, in a course.
void MakeTree(const fs::path& root) {
  const std::string vtt = "WEBVTT\n\n00:01.000 --> 00:02.000\n<v Ann>Hello\n";
  WriteFile(root / "course__1/imsmanifest.xml",
            "<manifest><organizations><organization><title>Fire &amp; Safety</title>"
            "</organization></organizations></manifest>");
  const fs::path captions = root / "course__1/media/captions";
  for (int i = 0; i < 12; ++i) WriteFile(captions / ("lesson" + std::to_string(i) + ".vtt"), vtt);
  ::mkfifo((captions / "a.vtt").c_str(), 0600);  // fails, so a.VTT writes a.txt
  WriteFile(captions / "a.VTT", vtt);
  WriteFile(captions / "b.srt", "1\n00:00:01,000 --> 00:00:02,000\n{\\an8}srt\n");
  WriteFile(captions / "b.SRT", "1\n00:00:01,000 --> 00:00:02,000\nlater\n");  // refused
  WriteFile(captions / "b.sbv", "0:00:01.000,0:00:02.000\npassed over\n");
  fs::create_symlink("gone", captions / "dangling.vtt");
  fs::create_directories(root / "x.vtt");
  for (const char* folder : {"deep/er/est", "deep/side", "other"}) {
    for (int i = 0; i < 3; ++i) WriteFile(root / folder / ("c" + std::to_string(i) + ".vtt"), vtt);
  }
}

// A run that only lists, converted in parts of every size by ConvertListed,
// the parts in reverse order, writes what a run writes and reports what it
// reports. A part holds every file of one transcript name in the folder.
TEST(RunBatches, AListedRunConvertedInPartsIsTheRun) {
  BatchOptions options;
  options.style = TranscriptStyle::kParagraphs;
  options.recursive = true;
  options.all_formats = true;
  options.html = true;
  options.language = "en";
  TempDir whole;
  MakeTree(whole.path());
  EventRecorder run(whole.path());
  RunBatches(whole.path().native(), options, run);
  ASSERT_GT(run.files.size(), 20u);
  const Snapshot expected = TakeSnapshot(whole.path());

  for (const std::size_t part_size :
       {std::size_t{1}, std::size_t{2}, std::size_t{5}, std::size_t{100}}) {
    SCOPED_TRACE(part_size);
    TempDir parts_dir;
    MakeTree(parts_dir.path());
    BatchOptions listing = options;
    listing.list_only = true;
    const Snapshot before = TakeSnapshot(parts_dir.path());
    EventRecorder listed(parts_dir.path());
    RunBatches(parts_dir.path().native(), listing, listed);
    EXPECT_EQ(TakeSnapshot(parts_dir.path()), before) << "a listing converts nothing";
    // Parts of the files in listing order, a transcript name's later files
    // joining the part of its first.
    std::vector<std::vector<std::size_t>> parts;
    std::map<std::pair<NativeString, NativeString>, std::size_t> part_of;
    for (std::size_t i = 0; i < listed.files.size(); ++i) {
      const auto& [folder, name] = listed.files[i];
      const auto key = std::make_pair(folder, MakeOutputPath(name));
      if (const auto found = part_of.find(key); found != part_of.end()) {
        parts[found->second].push_back(i);
        continue;
      }
      if (parts.empty() || parts.back().size() >= part_size) parts.emplace_back();
      part_of[key] = parts.size() - 1;
      parts.back().push_back(i);
    }
    // Each part's files, folder by folder, and what each file's conversion reported.
    std::map<std::pair<NativeString, NativeString>, std::vector<std::string>> converted;
    for (auto part = parts.rbegin(); part != parts.rend(); ++part) {
      std::map<NativeString, std::vector<NativeString>> folders;
      for (const std::size_t i : *part)
        folders[listed.files[i].first].push_back(listed.files[i].second);
      for (const auto& [folder, names] : folders) {
        EventRecorder recorder(parts_dir.path());
        ConvertListed(folder, names, options, recorder);
        ASSERT_EQ(recorder.files.size(), names.size());
        std::size_t file = 0;
        for (const std::string& event : recorder.events) {
          if (event.rfind("file ", 0) == 0) ++file;
          ASSERT_NE(file, 0u) << "a message before any file: " << event;
          converted[{folder, names[file - 1]}].push_back(event);
        }
      }
    }
    // The listing's events, each file's replaced by those of its conversion.
    std::vector<std::string> merged;
    std::size_t file = 0;
    for (const std::string& event : listed.events) {
      if (event.rfind("file ", 0) != 0) {
        merged.push_back(event);
        continue;
      }
      const std::vector<std::string>& events = converted[listed.files[file++]];
      merged.insert(merged.end(), events.begin(), events.end());
    }
    EXPECT_EQ(merged, run.events);
    EXPECT_EQ(TakeSnapshot(parts_dir.path()), expected);
  }
}

}  // namespace
}  // namespace orvane
