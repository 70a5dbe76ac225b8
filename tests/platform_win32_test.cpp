// The Win32 platform layer, and batch runs over what only Windows names
// have: UTF-16 names outside the code page, 8.3 aliases, several spellings.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "conversion/batch_run.h"
#include "conversion/conversion.h"
#include "platform/platform.h"
#include "tests/test_support.h"

namespace orvane::platform {
namespace {

using namespace testing;  // the test helpers
namespace fs = std::filesystem;

struct PathCase {
  std::wstring path;
  std::wstring without_last;  // after RemoveLastComponent
  std::wstring last;          // LastComponent
};

TEST(Win32Paths, RemoveLastComponentAndLastComponent) {
  const std::wstring deep = L"C:\\" + std::wstring(300, L'd');
  const PathCase cases[] = {
      {L"C:\\Courses\\intro__2024\\media", L"C:\\Courses\\intro__2024", L"media"},
      {L"C:\\Courses", L"C:\\", L"Courses"},
      {L"C:\\", L"C:\\", L"C:\\"},
      {L"C:\\Courses\\x\\", L"C:\\Courses\\x", L"x\\"},
      {L"relative\\name", L"relative", L"name"},
      {L"", L"", L""},
      // Longer than the shell's 260-character buffer: neither cut nor overrun.
      {deep + L"\\e\\f", deep + L"\\e", L"f"},
      {deep + L"\\" + deep.substr(3), deep, deep.substr(3)},
  };
  for (const PathCase& c : cases) {
    NativeString path = c.path;
    RemoveLastComponent(path);
    EXPECT_EQ(path, c.without_last) << c.path.size();
    EXPECT_EQ(LastComponent(c.path), c.last) << c.path.size();
  }
}

TEST(Win32Text, UsesTheThreadCodePage) {
  if (::GetACP() != 1252) GTEST_SKIP() << "expects code page 1252, as Wine has under C.UTF-8";
  EXPECT_EQ(FromNarrow("Caf\xE9 \x96 101"), L"Caf\u00E9 \u2013 101");
  EXPECT_EQ(ToNarrow(L"Caf\u00E9 \u2013 101"), "Caf\xE9 \x96 101");
  EXPECT_EQ(FromNarrow(""), L"");
  EXPECT_EQ(ToNarrow(L""), "");
}

TEST(Win32DirectoryListing, ListsCaptionFilesAndFlagsFolders) {
  TempDir dir;
  WriteFile(dir / "a.vtt", "");
  WriteFile(dir / "B.VTT", "");
  WriteFile(dir / "readme.txt", "");
  fs::create_directory(dir / "sub.vtt");
  std::vector<std::pair<std::wstring, bool>> seen;
  for (DirectoryListing listing(dir.path().native()); listing.ok(); listing.Next()) {
    seen.emplace_back(listing.name(), listing.is_directory());
  }
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, (std::vector<std::pair<std::wstring, bool>>{
                      {L"B.VTT", false}, {L"a.vtt", false}, {L"sub.vtt", true}}));
  EXPECT_FALSE(DirectoryListing((dir / "missing").native()).ok());
  EXPECT_FALSE(DirectoryListing((dir / "readme.txt").native()).ok());
}

TEST(Win32Files, InputFileRefusesWhatIsNotADiskFile) {
  TempDir dir;
  WriteFile(dir / "plain", "abc");
  InputFile plain;
  ASSERT_TRUE(plain.Open(dir / "plain"));
  char buffer[8];
  EXPECT_EQ(plain.Read(buffer, sizeof buffer), 3);
  EXPECT_EQ(plain.Read(buffer, sizeof buffer), 0);

  // A pipe with a server that never answers must not hold the run up.
  const std::wstring pipe = L"\\\\.\\pipe\\orvane-test-" + std::to_wstring(::GetCurrentProcessId());
  const HANDLE server =
      ::CreateNamedPipeW(pipe.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1, 0, 0, 0, nullptr);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  const auto start = std::chrono::steady_clock::now();
  for (const fs::path& path : {fs::path(pipe), fs::path(L"NUL"), dir.path(), dir / "missing"}) {
    EXPECT_FALSE(InputFile().Open(path)) << path;
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  ::CloseHandle(server);
}

TEST(Win32Files, ReplacementFileNeverReplacesTheCaptionFileUnderAnotherSpelling) {
  TempDir dir;
  WriteFile(dir / "a.vtt", "Keep me\n");
  ASSERT_TRUE(::CreateHardLinkW((dir / "b.txt").c_str(), (dir / "a.vtt").c_str(), nullptr));
  for (const char* other : {"A.VTT", "./a.vtt", "b.txt"}) {
    EXPECT_EQ(ConvertCaptionFile(dir / "a.vtt", dir / other, {}), ConversionResult::kOpenFailed)
        << other;
    EXPECT_EQ(ReadFile(dir / "a.vtt"), "Keep me\n") << other;
  }
  InputFile source;
  ASSERT_TRUE(source.Open(dir / "a.vtt"));
  WriteFile(dir / "out", "old");
  ReplacementFile out;
  ASSERT_TRUE(out.Create(dir / "out", source));
  EXPECT_TRUE(out.Write("hello", 5));
  EXPECT_EQ(ReadFile(dir / "out"), "old");
  EXPECT_TRUE(out.Commit());
  EXPECT_FALSE(out.Commit());
  EXPECT_EQ(ReadFile(dir / "out"), "hello");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 3);
}

// A transcript path that is a folder or a reparse point (a symbolic link)
// is refused and left as it is; a read-only transcript too.
TEST(Win32Files, ReplacementFileRefusesAllButWritableFiles) {
  TempDir dir;
  WriteFile(dir / "a.vtt", "Hi\n");
  WriteFile(dir / "target.txt", "old");
  WriteFile(dir / "readonly.txt", "kept");
  ASSERT_TRUE(::SetFileAttributesW((dir / "readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  fs::create_directory(dir / "folder.txt");
  // Wine 8 creates no link here (nor shows a Unix link as a reparse point),
  // so that case runs on Windows only.
  ::CreateSymbolicLinkW((dir / "link.txt").c_str(), (dir / "target.txt").c_str(), 0);
  const DWORD link = ::GetFileAttributesW((dir / "link.txt").c_str());
  const bool linked = link != INVALID_FILE_ATTRIBUTES && (link & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  InputFile source;
  ASSERT_TRUE(source.Open(dir / "a.vtt"));
  for (const char* name : {"folder.txt", "readonly.txt", "link.txt", "missing\\x.txt"}) {
    if (std::string_view(name) == "link.txt" && !linked) continue;
    EXPECT_FALSE(ReplacementFile().Create(dir / name, source)) << name;
  }
  EXPECT_EQ(ReadFile(dir / "target.txt"), "old");
  EXPECT_EQ(ReadFile(dir / "readonly.txt"), "kept");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()),
            linked ? 5 : 4);
  ::SetFileAttributesW((dir / "readonly.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

// Runs a batch over `folder` and returns its messages.
std::vector<testing::Message> RunOn(const fs::path& folder) {
  RecordingReporter reporter;
  RunBatch(folder.native(), TranscriptStyle::kDefault, reporter);
  return reporter.messages;
}

TEST(Win32BatchRun, OpensFilesByTheirWideNames) {
  TempDir dir;
  // Code page 1252 has no "ą" and best-fits it to "a"; nor has it any Japanese.
  const fs::path folder =
      dir / Native("\xE3\x82\xB3\xE3\x83\xBC\xE3\x82\xB9__1") / "media" / Native("\xC4\x85");
  WriteFile(folder.parent_path().parent_path() / "imsmanifest.xml", "<title>Course</title>");
  WriteFile(folder / "a.vtt", "plain a\n");
  WriteFile(folder / Native("\xC4\x85.vtt"), "a with ogonek\n");
  WriteFile(folder / Native("\xE6\x97\xA5\xE6\x9C\xAC.vtt"), "Japanese\n");
  EXPECT_EQ(RunOn(folder),
            (std::vector<testing::Message>{{BatchMessage::kFilesConverted, folder.native()}}));
  EXPECT_EQ(ReadFile(folder / "a.txt"), "Course.\r\nplain a\r\n");
  EXPECT_EQ(ReadFile(folder / Native("\xC4\x85.txt")), "Course.\r\na with ogonek\r\n");
  EXPECT_EQ(ReadFile(folder / Native("\xE6\x97\xA5\xE6\x9C\xAC.txt")), "Course.\r\nJapanese\r\n");
}

TEST(Win32BatchRun, ConvertsOnlyNamesEndingInVtt) {
  TempDir dir;
  // "*.vtt" also matches these through their 8.3 aliases (CLIPVT~1.VTT).
  WriteFile(dir / "clip.vttx", "not captions\n");
  WriteFile(dir / "notes.vtt_old", "not captions\n");
  WriteFile(dir / "clip.txt", "hand-written clip");
  WriteFile(dir / "notes.txt", "hand-written notes");
  EXPECT_EQ(RunOn(dir.path()),
            (std::vector<testing::Message>{{BatchMessage::kNoCaptionFiles, dir.path().native()}}));
  WriteFile(dir / "Lesson.Vtt", "Hi\n");
  EXPECT_EQ(RunOn(dir.path()),
            (std::vector<testing::Message>{{BatchMessage::kFilesConverted, dir.path().native()}}));
  EXPECT_EQ(ReadFile(dir / "Lesson.txt"), "Hi\r\n");
  EXPECT_EQ(ReadFile(dir / "clip.txt"), "hand-written clip");
  EXPECT_EQ(ReadFile(dir / "notes.txt"), "hand-written notes");
}

// Folders are opened in the long-path form: a folder named in any spelling
// (relative, with "..", with a trailing separator, past MAX_PATH) converts,
// and a walk descends into sub-folders past MAX_PATH. A sub-folder is opened
// only as the folder listed.
TEST(Win32BatchRun, FoldersInEverySpellingAndPastMaxPath) {
  TempDir dir;
  fs::path deep = dir.path();
  while (deep.native().size() < 300) deep /= std::wstring(60, L'd');
  WriteFile(deep / "a.vtt", "Deep\n");
  WriteFile(dir / "near" / "b.vtt", "Near\n");
  const std::wstring spellings[] = {(dir / "near").native() + L"\\",
                                    (dir / "near" / ".." / "near").native(), deep.native()};
  for (const std::wstring& folder : spellings) {
    EXPECT_EQ(RunOn(folder),
              (std::vector<testing::Message>{{BatchMessage::kFilesConverted, folder}}))
        << folder;
  }
  EXPECT_EQ(ReadFile(dir / "near" / "b.txt"), "Near\r\n");
  EXPECT_EQ(ReadFile(deep / "a.txt"), "Deep\r\n");
  fs::remove(deep / "a.txt");
  RecordingReporter reporter;
  BatchOptions options;
  options.recursive = true;
  RunBatches(dir.path().native(), options, reporter);
  EXPECT_EQ(reporter.messages.size(), 2u);
  EXPECT_EQ(ReadFile(deep / "a.txt"), "Deep\r\n");

  Folder root;
  ASSERT_TRUE(root.Open(dir.path().native()));
  // Not "near": windows.h defines it away.
  Folder child;
  EXPECT_FALSE(child.OpenChild(root, L"near", FileId{1, 2}));
  FileId listed;
  for (DirectoryListing listing(root, DirectoryListing::Scope::kEverything); listing.ok();
       listing.Next()) {
    if (listing.name() == L"near") listed = listing.folder_id();
  }
  EXPECT_TRUE(child.OpenChild(root, L"near", listed));
  Folder parent;
  EXPECT_TRUE(parent.OpenParent(child, root.id()));
}

}  // namespace
}  // namespace orvane::platform
