#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

#include "conversion/cue_list.h"
#include "tests/oracle/clean_reference.h"

namespace orvane::testing {

TempDir::TempDir() {
  std::random_device seed;
  std::mt19937_64 random(seed());
  const fs::path base = fs::temp_directory_path();
  for (;;) {
    path_ = base / ("orvane-test-" + std::to_string(random()));
    if (fs::create_directory(path_)) break;
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

NativeString Native(std::string_view utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end())).native();
}

void PrintTo(const Message& message, std::ostream* out) {
  const std::u8string subject = fs::path(message.subject).u8string();
  *out << "{kind " << static_cast<int>(message.kind) << ", \""
       << std::string(subject.begin(), subject.end()) << "\"}";
}

void WriteFile(const fs::path& path, std::string_view bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << "cannot write " << path;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << "cannot read " << path;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::string TranscribeInPieces(Transcriber& transcriber, std::string_view file, std::size_t piece) {
  transcriber.Reset();
  MemorySource source(file);
  StringSink sink;
  std::vector<char> buffer(7);  // long lines read again in small pieces too
  std::string scratch;
  for (std::size_t at = 0; at < file.size(); at += piece) {
    transcriber.Feed(file.substr(at, piece), source);
    EXPECT_EQ(WriteOutput(transcriber, source, sink, buffer, scratch), OutputResult::kWritten);
  }
  transcriber.Finish(source);
  EXPECT_EQ(WriteOutput(transcriber, source, sink, buffer, scratch), OutputResult::kWritten);
  EXPECT_FALSE(transcriber.failed());
  return std::move(sink.text);
}

std::string TokenSoup::Line(int max_tokens) {
  static const std::string_view tokens[] = {"0",
                                            "1",
                                            "7",
                                            "9",
                                            "00",
                                            "42",
                                            ":",
                                            ".",
                                            " --> ",
                                            " ",
                                            "-",
                                            "--",
                                            ">",
                                            "<",
                                            "v",
                                            "c",
                                            "/",
                                            "<v>",
                                            "</v>",
                                            "<c>",
                                            "</c>",
                                            "<v",
                                            "</",
                                            "WEBVTT",
                                            "WEBVT",
                                            "T",
                                            "\r",
                                            "a",
                                            "\xC3\xA9",
                                            "00:00:01.000",
                                            "12:34:56.789",
                                            "00:00:01.000 --> ",
                                            "\x1A",
                                            "\n"};
  std::string line;
  const int count = std::uniform_int_distribution<int>(0, max_tokens)(random_);
  for (int i = 0; i < count; ++i) {
    line += tokens[std::uniform_int_distribution<std::size_t>(0, std::size(tokens) - 1)(random_)];
  }
  return line;
}

namespace {

constexpr std::uintmax_t kLargeFile = 1 << 20;
// Snapshot keys of permission bits: the entry's name and this.
constexpr const char* kModeSuffix = " (mode)";

// Size and digest of a file too large to keep in a snapshot.
std::string Digest(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << "cannot read " << path;
  std::vector<char> block(kLargeFile);
  std::size_t digest = 0;
  std::uintmax_t size = 0;
  while (in.read(block.data(), static_cast<std::streamsize>(block.size())) || in.gcount() > 0) {
    const auto count = static_cast<std::size_t>(in.gcount());
    digest = digest * 31 + std::hash<std::string_view>()(std::string_view(block.data(), count));
    size += count;
  }
  return "size " + std::to_string(size) + ", digest " + std::to_string(digest);
}

}  // namespace

std::vector<Message> RunBatchOn(const fs::path& folder, TranscriptStyle style) {
  RecordingReporter reporter;
  RunBatch(folder.native(), style, reporter);
  return reporter.messages;
}

Message Completed(const fs::path& folder) {
  return {BatchMessage::kFilesConverted, folder.native()};
}

Snapshot TakeSnapshot(const fs::path& folder) {
  Snapshot snapshot;
  for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator();
       ++it) {
    const fs::path& path = it->path();
    const std::string name = path.lexically_relative(folder).generic_string();
    if (!it->is_symlink()) {
      snapshot[name + kModeSuffix] =
          std::to_string(static_cast<unsigned>(it->status().permissions()));
    }
    if (it->is_symlink()) {
      snapshot[name] = "link -> " + fs::read_symlink(path).string();
      it.disable_recursion_pending();
    } else if (it->is_regular_file()) {
      snapshot[name] = it->file_size() > kLargeFile ? Digest(path) : ReadFile(path);
    } else if (it->is_directory()) {
      snapshot[name + "/"] = "";
    } else if (it->is_fifo()) {
      snapshot[name] = "fifo";
    } else if (it->is_socket()) {
      snapshot[name] = "socket";
    } else {
      snapshot[name] = "special";
    }
  }
  return snapshot;
}

Snapshot ExpectOnlyTranscriptsChanged(const fs::path& folder, const Snapshot& before,
                                      const std::set<std::string>& transcripts_only) {
  Snapshot after = TakeSnapshot(folder);
  // A transcript's mode may change with it.
  std::set<std::string> transcripts = transcripts_only;
  for (const std::string& transcript : transcripts_only)
    transcripts.insert(transcript + kModeSuffix);
  std::vector<std::string> differences;
  for (const std::string& transcript : transcripts_only) {
    if (!fs::is_regular_file(fs::symlink_status(folder / transcript))) {
      differences.push_back("no transcript " + transcript);
    }
  }
  for (const auto& [name, content] : before) {
    if (transcripts.count(name) != 0) continue;
    const auto now = after.find(name);
    if (now == after.end()) {
      differences.push_back("lost " + name);
    } else if (now->second != content) {
      differences.push_back("changed " + name);
    }
  }
  for (const auto& [name, content] : after) {
    if (before.count(name) == 0 && transcripts.count(name) == 0) {
      differences.push_back("added " + name);
    }
  }
  std::string shown;
  for (std::size_t i = 0; i < differences.size() && i < 10; ++i) shown += "\n  " + differences[i];
  EXPECT_TRUE(differences.empty())
      << differences.size() << " differences under " << folder << ":" << shown;
  return after;
}

oracle::Format OracleFormat(CaptionFormat format) {
  switch (format) {
    case CaptionFormat::kWebVtt:
      return oracle::Format::kWebVtt;
    case CaptionFormat::kSubRip:
      return oracle::Format::kSubRip;
    case CaptionFormat::kSbv:
      break;
  }
  return oracle::Format::kSbv;
}

void ExpectCueListMatchesReference(std::string_view file, CaptionFormat format) {
  const std::vector<oracle::ReferenceCue> expected =
      oracle::CleanCues(file, oracle::Bytes::kOfAFile, OracleFormat(format));
  const std::vector<CueListEntry> cues = ReadCueList(file, format);
  ASSERT_EQ(cues.size(), expected.size()) << ::testing::PrintToString(file);
  for (std::size_t i = 0; i < cues.size(); ++i) {
    std::vector<std::pair<std::string, std::string>> lines;
    for (const CueListLine& line : cues[i].lines) lines.emplace_back(line.text, line.speaker);
    ASSERT_EQ(cues[i].timing.start, expected[i].start)
        << "cue " << i << ": " << ::testing::PrintToString(file);
    ASSERT_EQ(cues[i].timing.end, expected[i].end)
        << "cue " << i << ": " << ::testing::PrintToString(file);
    ASSERT_EQ(lines, expected[i].lines) << "cue " << i << ": " << ::testing::PrintToString(file);
  }
}

}  // namespace orvane::testing
