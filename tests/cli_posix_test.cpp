// The converter on POSIX: byte paths, and the real program run from a shell.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <set>
#include <thread>

#include "cli/orvane_convert.h"
#include "tests/test_support.h"

namespace orvane::cli {
namespace {

using testing::ReadFile;
using testing::TempDir;
namespace fs = std::filesystem;

struct Result {
  int status;
  std::string out;
  std::string err;
};

struct FolderCase {
  std::string_view argument;
  std::string_view normal;  // relative to the working folder, "" for itself
};

TEST(OrvaneConvert, NormalizesFolderArguments) {
  const NativeString cwd = fs::current_path().native();
  const FolderCase cases[] = {
      {".", ""}, {"./", ""}, {"captions/", "captions"}, {"a/../b/./c//", "b/c"}, {"x", "x"},
  };
  for (const FolderCase& c : cases) {
    const NativeString expected = c.normal.empty() ? cwd : cwd + "/" + NativeString(c.normal);
    EXPECT_EQ(NormalizeFolder(NativeString(c.argument)), expected) << c.argument;
  }
  // ".." after a link leads to the link's parent, as for the system.
  TempDir dir;
  fs::create_directories(dir / "real" / "inner");
  fs::create_directory_symlink(dir / "real" / "inner", dir / "link");
  const NativeString root = fs::canonical(dir.path()).native();
  EXPECT_EQ(NormalizeFolder((dir / "link" / "..").native()), root + "/real");
  EXPECT_EQ(NormalizeFolder((dir / "link").native()), root + "/real/inner");
  EXPECT_EQ(NormalizeFolder("/"), "/");
  EXPECT_EQ(NormalizeFolder("/srv//x/"), "/srv/x");
  EXPECT_EQ(NormalizeFolder(""), "");
}

// Runs the real program in `folder` and returns its exit status and output.
Result Spawn(const fs::path& folder, const std::string& args) {
  TempDir scratch;
  const std::string command = "cd '" + folder.string() + "' && '" ORVANE_CONVERT_PATH "' " + args +
                              " >'" + (scratch / "out").string() + "' 2>'" +
                              (scratch / "err").string() + "'";
  const int raw = std::system(command.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFile(scratch / "out"),
          ReadFile(scratch / "err")};
}

// Fails the test unless `captions` holds the transcripts in `golden`.
void ExpectGoldenTranscripts(const fs::path& captions, const fs::path& golden) {
  int compared = 0;
  for (const auto& entry : fs::directory_iterator(golden)) {
    if (!entry.is_regular_file()) continue;
    EXPECT_EQ(ReadFile(captions / entry.path().filename()), ReadFile(entry.path())) << entry.path();
    ++compared;
  }
  EXPECT_GE(compared, 5) << golden;
}

TEST(OrvaneConvert, ConvertsTheExampleCourseFromItsOwnFolder) {
  TempDir dir;
  fs::copy(ORVANE_EXAMPLES_DIR, dir.path(), fs::copy_options::recursive);
  const fs::path captions = dir / "safety__2024" / "media" / "captions";
  const Result result = Spawn(captions, ".");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "Files converted to folder: " + fs::canonical(captions).string() + "\n");
  EXPECT_EQ(result.err, "");
  ExpectGoldenTranscripts(captions, ORVANE_GOLDEN_DIR);
  const Result clean = Spawn(captions, "--clean --all-formats .");
  EXPECT_EQ(clean.status, 0) << clean.err;
  ExpectGoldenTranscripts(captions, fs::path(ORVANE_GOLDEN_DIR) / "clean");
  const Result timed = Spawn(captions, "--timestamps --all-formats .");
  EXPECT_EQ(timed.status, 0) << timed.err;
  ExpectGoldenTranscripts(captions, fs::path(ORVANE_GOLDEN_DIR) / "timestamps");

  const Result missing = Spawn(dir.path(), "nowhere");
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "orvane-convert: " + (fs::canonical(dir.path()) / "nowhere").string() +
                             ": No .vtt files found in the selected folder.\n");
}

// With its standard output a pipe that nobody reads, the program still
// converts every folder, then says once that the output failed, and fails.
TEST(OrvaneConvert, FinishesTheBatchWhenItsOutputIsClosed) {
  TempDir dir;
  std::vector<std::string> args = {ORVANE_CONVERT_PATH};
  for (const char* name : {"a", "b", "c"}) {
    testing::WriteFile(dir / name / "x.vtt", "Hi\n");
    args.push_back((dir / name).string());
  }
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  ::close(out[0]);
  const std::string err_path = (dir / "err").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT, 0600);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t child = 0;
  ASSERT_EQ(::posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), kExitFailure);
  EXPECT_EQ(ReadFile(dir / "err"), "orvane-convert: standard output: Error writing file(s).\n");
  for (const char* name : {"a", "b", "c"}) EXPECT_EQ(ReadFile(dir / name / "x.txt"), "Hi\r\n");
}

// Runs the real program in `folder` with `args`; each standard stream is
// closed when `closed` holds its number, else input comes from `input` and
// output and errors go to files, returned.
Result SpawnClosing(const fs::path& folder, std::vector<std::string> args, std::set<int> closed,
                    const fs::path& input = "/dev/null") {
  TempDir scratch;
  const std::string out = (scratch / "out").string();
  const std::string err = (scratch / "err").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT, 0600);
  for (const int fd : closed) posix_spawn_file_actions_addclose(&actions, fd);
  args.insert(args.begin(), ORVANE_CONVERT_PATH);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const fs::path saved = fs::current_path();
  fs::current_path(folder);
  pid_t child = 0;
  const int spawned = ::posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
  fs::current_path(saved);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (spawned != 0 || ::waitpid(child, &status, 0) != child) return {-1, "", ""};
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, fs::exists(out) ? ReadFile(out) : "",
          fs::exists(err) ? ReadFile(err) : ""};
}

// A standard stream closed at start is opened on /dev/null first: no file of
// the run takes its number, so no message lands in a transcript, and the
// pipe filter tells that it had nowhere to write.
TEST(OrvaneConvert, ClosedStandardStreams) {
  struct Case {
    std::string_view name;
    std::vector<std::string> args;
    std::set<int> closed;
    int status;
    std::string err;  // "BAD" stands for the failing caption's path
  };
  const std::string error = "orvane-convert: BAD: Error opening file(s).\n";
  const Case cases[] = {
      {"error closed", {"-j", "2", "d"}, {2}, kExitFailure, ""},
      {"output closed", {"-j", "2", "d"}, {1}, kExitFailure, error},
      {"all closed", {"d"}, {0, 1, 2}, kExitFailure, ""},
      {"filter, output closed",
       {"-"},
       {1},
       kExitFailure,
       "orvane-convert: standard output: Error writing file(s).\n"},
      {"filter, input closed", {"-"}, {0}, kExitOk, ""},
  };
  for (const Case& c : cases) {
    TempDir dir;
    testing::WriteFile(dir / "d" / "a.vtt", "Hi\n");
    testing::WriteFile(dir / "d" / "b.vtt", "Ho\n");
    testing::WriteFile(dir / "d" / "bad.vtt", "Hi\n");
    fs::create_directory(dir / "d" / "bad.txt");
    const Result result = SpawnClosing(dir.path(), c.args, c.closed, dir / "d" / "a.vtt");
    std::string err = c.err;
    if (const auto at = err.find("BAD"); at != err.npos) {
      err.replace(at, 3, (fs::canonical(dir.path()) / "d" / "bad.vtt").string());
    }
    EXPECT_EQ(result.status, c.status) << c.name;
    EXPECT_EQ(result.err, err) << c.name;
    if (c.args.back() == "d") {
      EXPECT_EQ(ReadFile(dir / "d" / "a.txt"), "Hi\r\n") << c.name;
      EXPECT_EQ(ReadFile(dir / "d" / "b.txt"), "Ho\r\n") << c.name;
    }
  }
}

// The pipe filter takes the style options as a folder run does.
TEST(OrvaneConvert, PipeFilterWritesParagraphs) {
  TempDir dir;
  testing::WriteFile(dir / "in.vtt",
                     "WEBVTT\n\n00:01.000 --> 00:02.000\nDora: Hi.\n\n"
                     "01:00:02.000 --> 01:00:03.000\nStill here?\n");
  const Result result =
      SpawnClosing(dir.path(), {"--timestamps", "--title", "Safety", "-"}, {}, dir / "in.vtt");
  EXPECT_EQ(result.status, kExitOk);
  EXPECT_EQ(result.out, "Safety.\r\n\r\n[00:01] Dora: Hi.\r\n\r\n[1:00:02] Still here?\r\n");
  EXPECT_EQ(result.err, "");
}

// The names in `folder` of temporary files being written.
std::set<std::string> Temporaries(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with(".orvane-")) names.insert(name);
  }
  return names;
}

// A catchable signal removes the temporary files being written, then ends
// the run as the signal would have; a later run removes, unannounced, the
// stale temporary files of its own user that a SIGKILL left behind.
TEST(OrvaneConvert, SignalsLeaveNoTemporaryFiles) {
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGKILL}) {
    TempDir dir;
    // Sparse caption files, long to read: both threads are writing when the
    // signal comes.
    for (const char* name : {"a.vtt", "b.vtt"}) {
      testing::WriteFile(dir / "d" / name, "WEBVTT");
      fs::resize_file(dir / "d" / name, std::uintmax_t{64} << 30);
    }
    std::vector<std::string> args = {ORVANE_CONVERT_PATH, "-j", "2", (dir / "d").string()};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    ASSERT_EQ(::posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), environ), 0);
    int status = 0;
    while (Temporaries(dir / "d").size() < 2) {
      ASSERT_EQ(::waitpid(child, &status, WNOHANG), 0) << "ended before writing";
      std::this_thread::yield();
    }
    ASSERT_EQ(::kill(child, signal_number), 0);
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number) << signal_number;
    if (signal_number != SIGKILL) {
      EXPECT_EQ(Temporaries(dir / "d"), std::set<std::string>{}) << signal_number;
      continue;
    }
    // Left by the killed run: a run removes them once they are an hour old.
    const std::set<std::string> left = Temporaries(dir / "d");
    ASSERT_EQ(left.size(), 2u);
    const auto old = fs::file_time_type::clock::now() - std::chrono::minutes(61);
    fs::last_write_time(dir / "d" / *left.begin(), old);
    fs::remove(dir / "d" / "a.vtt");
    fs::remove(dir / "d" / "b.vtt");
    testing::WriteFile(dir / "d" / "c.vtt", "Hi\n");
    testing::WriteFile(dir / "d" / ".orvane-notours.tmp", "");
    const Result result = Spawn(dir / "d", ".");
    EXPECT_EQ(result.status, kExitOk);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(Temporaries(dir / "d"),
              (std::set<std::string>{*std::next(left.begin()), ".orvane-notours.tmp"}));
  }
}

// Runs `command` in sh from `folder`, with the program's path in $ORVANE;
// returns its exit status and output.
Result Shell(const fs::path& folder, const std::string& command) {
  TempDir scratch;
  const std::string line = "cd '" + folder.string() + "' && ORVANE='" ORVANE_CONVERT_PATH "' && " +
                           command + " >'" + (scratch / "out").string() + "' 2>'" +
                           (scratch / "err").string() + "'";
  const int raw = std::system(("sh -c \"" + line + "\"").c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFile(scratch / "out"),
          ReadFile(scratch / "err")};
}

// Limits make a run slower, never different: too few descriptors for the
// largest -j converts everything, as -j 1 does. A caption named just ".vtt"
// is a caption like any other.
TEST(OrvaneConvert, LimitsDegradeTheRunNotItsResult) {
  TempDir dir;
  for (int i = 0; i < 100; ++i)
    testing::WriteFile(dir / "d" / (std::to_string(i) + ".vtt"), "Hi\n");
  testing::WriteFile(dir / "d" / ".vtt", "Dot\n");
  const Result result = Shell(dir.path(), "ulimit -n 40 && \\$ORVANE -j 1024 d");
  EXPECT_EQ(result.status, kExitOk) << result.err;
  EXPECT_EQ(result.err, "");
  for (int i = 0; i < 100; ++i)
    EXPECT_EQ(ReadFile(dir / "d" / (std::to_string(i) + ".txt")), "Hi\r\n");
  EXPECT_EQ(ReadFile(dir / "d" / ".txt"), "Dot\r\n");
  if (::geteuid() != 0) return;
  // Too few threads for -j 64, as another user whose processes are capped.
  for (int i = 0; i < 100; ++i) fs::remove(dir / "d" / (std::to_string(i) + ".txt"));
  fs::remove(dir / "d" / ".txt");
  for (const fs::path& path : {dir.path(), dir / "d"}) ::chown(path.c_str(), 65534, 65534);
  const Result capped = Shell(dir.path(),
                              "setpriv --reuid=65534 --regid=65534 --clear-groups "
                              "prlimit --nproc=3 \\$ORVANE -j 64 d");
  EXPECT_EQ(capped.status, kExitOk) << capped.err;
  EXPECT_EQ(capped.err, "");
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ(ReadFile(dir / "d" / (std::to_string(i) + ".txt")), "Hi\r\n");
  }
}

// A user who may not write into a folder, but may write a transcript in it,
// has it written in place: no temporary file can be made there.
TEST(OrvaneConvert, TranscriptWrittenInPlaceWhereNoTemporaryFileCanBeMade) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "needs root to run as another user";
  }
  TempDir dir;
  testing::WriteFile(dir / "d" / "a.vtt", "Hi\n");
  testing::WriteFile(dir / "d" / "a.txt", "old transcript");
  testing::WriteFile(dir / "d" / "b.vtt", "Ho\n");
  ASSERT_EQ(::chown((dir / "d" / "a.txt").c_str(), 65534, 65534), 0);
  for (const fs::path& path : {dir.path(), dir / "d"}) ASSERT_EQ(::chmod(path.c_str(), 0755), 0);
  const Result result =
      Shell(dir.path(), "setpriv --reuid=65534 --regid=65534 --clear-groups \\$ORVANE d");
  EXPECT_EQ(result.status, kExitFailure);
  EXPECT_EQ(result.err, "orvane-convert: " + (fs::canonical(dir.path()) / "d" / "b.vtt").string() +
                            ": Error opening file(s).\n");
  EXPECT_EQ(ReadFile(dir / "d" / "a.txt"), "Hi\r\n");
  EXPECT_FALSE(fs::exists(dir / "d" / "b.txt"));
}

// On a file system whose listings give no entry types, the run asks for
// each: it tells the same, and writes the same, as where they are given.
TEST(OrvaneConvert, ListingsWithoutEntryTypes) {
  std::string seen[2];
  std::set<std::string> written[2];
  for (const bool types : {true, false}) {
    TempDir dir;
    const fs::path root = dir / "root";
    testing::WriteFile(root / "a.vtt", "A\n");
    testing::WriteFile(root / "sub" / "b.vtt", "B\n");
    testing::WriteFile(root / "folder.vtt" / "c.vtt", "C\n");
    fs::create_directory_symlink(root / "sub", root / "link");
    fs::create_symlink(root / "a.vtt", root / "sub" / "linked.vtt");
    const Result result =
        Shell(dir.path(), std::string(types ? "" : "LD_PRELOAD='" ORVANE_UNKNOWN_ENTRY_TYPES "' ") +
                              "ASAN_OPTIONS=verify_asan_link_order=0 \\$ORVANE -r -j 1 root");
    EXPECT_EQ(result.status, kExitOk) << types << result.err;
    seen[types] = result.out + result.err;
    const std::string prefix = fs::canonical(dir.path()).string();
    for (std::size_t at; (at = seen[types].find(prefix)) != std::string::npos;) {
      seen[types].erase(at, prefix.size());
    }
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
      if (entry.path().extension() == ".txt") {
        written[types].insert(entry.path().lexically_relative(root).string() + ": " +
                              ReadFile(entry.path()));
      }
    }
  }
  EXPECT_EQ(seen[0], seen[1]);
  EXPECT_EQ(written[0], written[1]);
  EXPECT_EQ(written[1].size(), 4u);
}

// The pipe filter writes, byte for byte, the transcript that the folder run
// writes, in either style; a failed read or write is told and fails the run.
TEST(OrvaneConvert, PipeFilterWritesTheTranscriptsOfTheFolderRun) {
  TempDir dir;
  fs::copy(ORVANE_EXAMPLES_DIR, dir.path(), fs::copy_options::recursive);
  const fs::path captions = dir / "safety__2024" / "media" / "captions";
  for (const std::string style : {"", "--clean "}) {
    ASSERT_EQ(Spawn(captions, style + ".").status, 0);
    for (const auto& entry : fs::directory_iterator(captions)) {
      if (entry.path().extension() != ".vtt") continue;
      const Result piped = Spawn(
          captions, style + "--title 'Workplace Safety Basics' - <'" + entry.path().string() + "'");
      EXPECT_EQ(piped.status, 0) << piped.err;
      EXPECT_TRUE(piped.out == ReadFile(fs::path(entry.path()).replace_extension(".txt")))
          << style << entry.path();
    }
  }
  EXPECT_EQ(Spawn(captions, "- <.").err,
            "orvane-convert: standard input: Error opening file(s).\n");
  const std::string full =
      "echo Hi | '" ORVANE_CONVERT_PATH "' - >/dev/full 2>'" + (dir / "err").string() + "'";
  const int raw = std::system(full.c_str());
  EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 1) << raw;
  EXPECT_EQ(ReadFile(dir / "err"), "orvane-convert: standard output: Error writing file(s).\n");
}

// Through a pipe, which cannot be read twice, memory stays bounded for many
// ordinary captions and for a kept line too long to hold.
TEST(OrvaneConvert, PipeFilterMemoryStaysBounded) {
#if defined(__SANITIZE_ADDRESS__)
  constexpr std::size_t kScale = 16;
#else
  constexpr std::size_t kScale = 1;
#endif
  struct Case {
    std::string_view name, head, pattern;
    std::size_t bytes, transcript, end;  // transcript bytes per pattern, and at the end
  };
  const Case cases[] = {
      {"ordinary captions", "WEBVTT\n", "\n1\n00:00:01.000 --> 00:00:02.000\n<v>Hello</v>\n",
       (256u << 20) / kScale, 7, 0},
      {"one kept line of 24 MB", "WEBVTT\n\n", "<v>word</v> ", (24u << 20) / kScale, 5, 2},
  };
  for (const Case& c : cases) {
    TempDir dir;
    std::string block;
    while (block.size() < (1u << 20)) block += c.pattern;
    const std::size_t repeats = c.bytes / block.size();
    {
      std::ofstream out(dir / "in.vtt", std::ios::binary);
      out << c.head;
      for (std::size_t i = 0; i < repeats; ++i) out << block;
    }
    const std::string command = "cat '" + (dir / "in.vtt").string() +
                                "' | '" ORVANE_CONVERT_PATH "' - >'" + (dir / "out").string() + "'";
    const pid_t child = ::fork();
    if (child == 0) {
      ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ASSERT_EQ(::wait4(child, &status, 0, &usage), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << c.name;
    EXPECT_LT(usage.ru_maxrss, 64 * 1024) << c.name << ": peak KiB";
    const std::size_t units = repeats * (block.size() / c.pattern.size());
    EXPECT_EQ(fs::file_size(dir / "out"), units * c.transcript + c.end) << c.name;
  }
}

// Runs the program with standard error on a new pseudo-terminal and standard
// output in `out`; returns the bytes the terminal received.
std::string RunOnTerminal(const std::vector<std::string>& args, const fs::path& out) {
  std::vector<std::string> argv_strings = {ORVANE_CONVERT_PATH};
  argv_strings.insert(argv_strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : argv_strings) argv.push_back(arg.data());
  argv.push_back(nullptr);
  int terminal = -1;
  const pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
  if (child == 0) {
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, 1);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  std::string seen;
  char buffer[4096];
  for (ssize_t count; (count = ::read(terminal, buffer, sizeof buffer)) > 0;) {
    seen.append(buffer, static_cast<std::size_t>(count));
  }
  ::close(terminal);
  int status = 0;
  ::waitpid(child, &status, 0);
  return seen;
}

// A run of more than a second shows its progress line on a terminal, and
// erases it at the end; never with --quiet, never into a file.
TEST(OrvaneConvert, ProgressLineOnlyOnATerminal) {
  TempDir dir;
  // A sparse caption file: 32 gigabytes of one dropped line, quick to read
  // yet, with nothing held, well over the second before progress shows.
  testing::WriteFile(dir / "a" / "big.vtt", "WEBVTT");
  fs::resize_file(dir / "a" / "big.vtt", std::uintmax_t{32} << 30);
  testing::WriteFile(dir / "b" / "x.vtt", "Hi\n");
  const std::string root = dir.path().string();

  const std::string shown = RunOnTerminal({"-r", "-j", "1", root}, dir / "out");
  EXPECT_NE(shown.find("\r0/1 folders, 0/1 files, "), std::string::npos) << shown;
  EXPECT_NE(shown.find(" MB/s"), std::string::npos) << shown;
  // The one big file moves the bytes while no file is done.
  EXPECT_NE(shown.find(" of 34 GB ("), std::string::npos) << shown;
  const std::string none_done = "\r0/1 folders, 0/1 files, ";
  bool moved = false;
  for (std::size_t at = 0; (at = shown.find(none_done, at)) != shown.npos;) {
    at += none_done.size();
    moved = moved || shown.compare(at, 4, "0 B ") != 0;
  }
  EXPECT_TRUE(moved) << shown;
  const std::size_t last_line = shown.rfind('\r', shown.size() - 2);
  ASSERT_NE(last_line, std::string::npos);
  EXPECT_EQ(shown.find_first_not_of(' ', last_line + 1), shown.size() - 1) << "erased at the end";
  EXPECT_EQ(ReadFile(dir / "out"), "Files converted to folder: " + root +
                                       "/a\nFiles converted to folder: " + root + "/b\n");

  EXPECT_EQ(RunOnTerminal({"-q", "-r", root}, dir / "out"), "");
  EXPECT_EQ(ReadFile(dir / "out"), "");
  const Result in_file = Spawn(dir.path(), "-r -j 1 .");
  EXPECT_EQ(in_file.err, "");
  EXPECT_EQ(in_file.status, 0);
}

// With --html the pipe filter writes the page instead of the transcript. A
// page whose captions tell no language takes --lang, else the user's: the
// first of LC_ALL, LC_MESSAGES and LANG that is set and not empty decides.
TEST(OrvaneConvert, PipeFilterWritesThePageInTheUsersLanguage) {
  TempDir dir;
  testing::WriteFile(dir / "in.vtt", "WEBVTT\n\n00:01.000 --> 00:02.000\nHi & bye\n");
  testing::WriteFile(dir / "fr.vtt", "WEBVTT\nLanguage: fr\n\n00:01.000 --> 00:02.000\nSalut\n");
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"LC_ALL= LC_MESSAGES= LANG=pt_BR.UTF-8 \\$ORVANE --html - <in.vtt", "pt-BR"},
      {"LC_ALL= LC_MESSAGES=de_DE@euro LANG=pt_BR \\$ORVANE --html - <in.vtt", "de-DE"},
      {"LC_ALL=sr_RS.UTF-8@latin LANG=pt_BR \\$ORVANE --html - <in.vtt", "sr-RS"},
      {"LC_ALL=C LC_MESSAGES=de_DE LANG=pt_BR \\$ORVANE --html - <in.vtt", "und"},
      {"LC_ALL= LC_MESSAGES=POSIX LANG=pt_BR \\$ORVANE --html - <in.vtt", "und"},
      {"LC_ALL= LC_MESSAGES= LANG= \\$ORVANE --html - <in.vtt", "und"},
      {"LC_ALL=pt_BR \\$ORVANE --html --lang es-419 - <in.vtt", "es-419"},
      {"LC_ALL=pt_BR \\$ORVANE --html --lang es-419 - <fr.vtt", "fr"},
  };
  for (const auto& [command, lang] : cases) {
    const Result result = Shell(dir.path(), std::string(command));
    EXPECT_EQ(result.status, kExitOk) << command << result.err;
    EXPECT_TRUE(
        result.out.starts_with("<!DOCTYPE html>\n<html lang=\"" + std::string(lang) + "\">"))
        << command << "\n"
        << result.out;
  }
  const Result titled = Shell(dir.path(), "\\$ORVANE --timestamps --html --title Safety - <in.vtt");
  EXPECT_NE(titled.out.find("\n<title>Transcript \xE2\x80\x93 Safety</title>\n"), std::string::npos)
      << titled.out;
  EXPECT_NE(titled.out.find(
                "\n<p><time datetime=\"PT1S\">[00:01]</time> Hi &amp; bye</p>\n</main>\n</body>\n"),
            std::string::npos)
      << titled.out;
  EXPECT_EQ(titled.out.find("Safety."), std::string::npos) << titled.out;
  const std::string full = "'" ORVANE_CONVERT_PATH "' --html - <'" + (dir / "in.vtt").string() +
                           "' >/dev/full 2>'" + (dir / "err").string() + "'";
  const int raw = std::system(full.c_str());
  EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == kExitFailure) << raw;
  EXPECT_EQ(ReadFile(dir / "err"), "orvane-convert: standard output: Error writing file(s).\n");
}

}  // namespace
}  // namespace orvane::cli
