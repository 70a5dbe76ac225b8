#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>

#include "platform/platform.h"
#include "tests/file_size_limit.h"
#include "tests/test_support.h"

namespace orvane::platform {
namespace {

using namespace testing;  // the test helpers
namespace fs = std::filesystem;

struct PathCase {
  std::string_view path;
  std::string_view without_last;  // after RemoveLastComponent
  std::string_view last;          // LastComponent
};

TEST(PosixPaths, RemoveLastComponentAndLastComponent) {
  const PathCase cases[] = {
      {"/srv/intro__2024/media", "/srv/intro__2024", "media"},
      {"/srv/intro__2024", "/srv", "intro__2024"},
      {"/srv", "/", "srv"},
      {"/", "/", "/"},
      {"//", "/", "//"},
      {"/srv/x/", "/srv/x", "x/"},
      {"relative/name", "relative", "name"},
      {"name", "", "name"},
      {"", "", ""},
  };
  for (const PathCase& c : cases) {
    NativeString path(c.path);
    RemoveLastComponent(path);
    EXPECT_EQ(path, c.without_last) << c.path;
    EXPECT_EQ(LastComponent(NativeString(c.path)), c.last) << c.path;
  }
}

TEST(PosixText, NarrowTextIsTheBytesThemselves) {
  const std::string bytes = "Caf\xC3\xA9 \xFF\xFE invalid \x80";
  EXPECT_EQ(FromNarrow(bytes), bytes);
  EXPECT_EQ(ToNarrow(bytes), bytes);
}

TEST(PosixDirectoryListing, ListsEveryEntryAndFlagsFolders) {
  TempDir dir;
  WriteFile(dir / "a.vtt", "");
  fs::create_directory(dir / "sub.vtt");
  fs::create_directory_symlink(dir / "sub.vtt", dir / "link.vtt");
  fs::create_symlink(dir / "gone", dir / "dangling.vtt");
  std::vector<std::pair<std::string, bool>> seen;
  for (DirectoryListing listing(dir.path().native()); listing.ok(); listing.Next()) {
    if (listing.name() != "." && listing.name() != "..") {
      seen.emplace_back(listing.name(), listing.is_directory());
    }
  }
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen,
            (std::vector<std::pair<std::string, bool>>{
                {"a.vtt", false}, {"dangling.vtt", false}, {"link.vtt", true}, {"sub.vtt", true}}));
  EXPECT_FALSE(DirectoryListing((dir / "missing").native()).ok());
  EXPECT_FALSE(DirectoryListing((dir / "a.vtt").native()).ok());
}

TEST(PosixFiles, InputFileOpensOnlyRegularFiles) {
  TempDir dir;
  WriteFile(dir / "plain", "abc");
  ::mkfifo((dir / "fifo").c_str(), 0600);
  fs::create_symlink(dir / "plain", dir / "link");
  InputFile plain;
  ASSERT_TRUE(plain.Open(dir / "plain"));
  char buffer[8];
  EXPECT_EQ(plain.Read(buffer, sizeof buffer), 3);
  EXPECT_EQ(plain.Read(buffer, sizeof buffer), 0);
  EXPECT_TRUE(InputFile().Open(dir / "link"));
  for (const fs::path& path : {dir / "fifo", dir.path(), fs::path("/dev/zero"), dir / "missing"}) {
    EXPECT_FALSE(InputFile().Open(path)) << path;
  }
}

// The names in `dir`, temporary files included.
std::set<std::string> Names(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename());
  return names;
}

TEST(PosixFiles, ReplacementFileRefusesAllButWritableRegularFiles) {
  TempDir dir;
  WriteFile(dir / "source", "x");
  WriteFile(dir / "target", "old");
  fs::create_symlink(dir / "target", dir / "link");
  fs::create_symlink(dir / "missing", dir / "dangling");
  fs::create_directory(dir / "folder");
  ::mkfifo((dir / "fifo").c_str(), 0600);
  fs::create_hard_link(dir / "source", dir / "source-again");
  InputFile source;
  ASSERT_TRUE(source.Open(dir / "source"));
  const std::set<std::string> before = Names(dir.path());
  for (const char* name :
       {"link", "dangling", "folder", "fifo", "source", "source-again", "no-folder/x"}) {
    EXPECT_FALSE(ReplacementFile().Create(dir / name, source)) << name;
  }
  EXPECT_FALSE(ReplacementFile().Create("/dev/null", source));
  EXPECT_EQ(Names(dir.path()), before);
  EXPECT_EQ(testing::ReadFile(dir / "target"), "old");
  EXPECT_EQ(testing::ReadFile(dir / "source"), "x");
  if (::geteuid() != 0) {  // the superuser may write any file
    fs::permissions(dir / "target", fs::perms::owner_read);
    EXPECT_FALSE(ReplacementFile().Create(dir / "target", source));
  }
}

TEST(PosixFiles, ReplacementFileReplacesInOneStepKeepingTheModes) {
  TempDir dir;
  WriteFile(dir / "private", "caption");
  fs::permissions(dir / "private", fs::perms::owner_read | fs::perms::owner_write);
  WriteFile(dir / "shared", "old");
  fs::permissions(dir / "shared", fs::perms::owner_all | fs::perms::group_read);
  fs::create_hard_link(dir / "shared", dir / "other-name");
  InputFile source;
  ASSERT_TRUE(source.Open(dir / "private"));
  for (const char* name : {"new", "shared"}) {
    const std::size_t count = Names(dir.path()).size();
    ReplacementFile out;
    ASSERT_TRUE(out.Create(dir / name, source)) << name;
    EXPECT_TRUE(out.Write("hello", 5));
    EXPECT_EQ(Names(dir.path()).size(), count + 1) << "the temporary file sits beside it";
    EXPECT_TRUE(out.Commit());
    EXPECT_FALSE(out.Commit());
    EXPECT_EQ(testing::ReadFile(dir / name), "hello");
  }
  EXPECT_EQ(testing::ReadFile(dir / "other-name"), "old");
  EXPECT_EQ(fs::status(dir / "new").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  // The caption grants no group read: the replaced file loses it.
  EXPECT_EQ(fs::status(dir / "shared").permissions() & fs::perms::all, fs::perms::owner_all);
  EXPECT_EQ(Names(dir.path()), (std::set<std::string>{"new", "other-name", "private", "shared"}));
}

TEST(PosixFiles, ReplacementFileModesFollowTheCaption) {
  struct Case {
    mode_t caption, transcript;  // 0: no transcript yet
    mode_t umask, expected;
  };
  const Case cases[] = {
      // A new file: the caption's read bits and the owner's write bit, within the umask.
      {0444, 0, 022, 0644},
      {0640, 0, 022, 0640},
      {0644, 0, 077, 0600},
      {0400, 0, 0, 0600},
      // A replaced file keeps its mode, which no umask narrows, less the read
      // bits the caption does not grant.
      {0644, 0664, 022, 0664},
      {0600, 0664, 022, 0620},
      {0444, 0600, 022, 0600},
      {0640, 0777, 0, 0773},
  };
  for (const Case& c : cases) {
    TempDir dir;
    WriteFile(dir / "a.vtt", "x");
    ::chmod((dir / "a.vtt").c_str(), c.caption);
    if (c.transcript != 0) {
      WriteFile(dir / "a.txt", "old");
      ::chmod((dir / "a.txt").c_str(), c.transcript);
    }
    const mode_t saved = ::umask(c.umask);
    InputFile source;
    ReplacementFile out;
    const bool written = source.Open(dir / "a.vtt") && out.Create(dir / "a.txt", source) &&
                         out.Write("new", 3) && out.Commit();
    ::umask(saved);
    EXPECT_TRUE(written);
    struct stat info {};
    ASSERT_EQ(::stat((dir / "a.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, c.expected)
        << std::oct << c.caption << " " << c.transcript << " " << c.umask;
  }
}

TEST(PosixFiles, ReplacementFileLeavesTheOldFileOnFailure) {
  TempDir dir;
  WriteFile(dir / "source", "x");
  WriteFile(dir / "target", "old");
  InputFile source;
  ASSERT_TRUE(source.Open(dir / "source"));
  {
    ReplacementFile abandoned;
    ASSERT_TRUE(abandoned.Create(dir / "target", source));
    EXPECT_TRUE(abandoned.Write("new", 3));
  }
  {
    const FileSizeLimit limit(4);
    ReplacementFile limited;
    ASSERT_TRUE(limited.Create(dir / "target", source));
    EXPECT_FALSE(limited.Write("too long", 8));
  }
  EXPECT_EQ(testing::ReadFile(dir / "target"), "old");
  EXPECT_EQ(Names(dir.path()), (std::set<std::string>{"source", "target"}));
  {
    // Put in place of the file since it was started: a folder the rename
    // cannot replace. Commit tells, and the temporary file goes.
    ReplacementFile late;
    ASSERT_TRUE(late.Create(dir / "target", source));
    fs::rename(dir / "target", dir / "kept");
    WriteFile(dir / "target" / "inside", "");
    EXPECT_FALSE(late.Commit());
  }
  EXPECT_EQ(Names(dir.path()), (std::set<std::string>{"kept", "source", "target"}));
}

// A sub-folder is opened only as the folder listed under its name: not
// through a link put there since, nor when another folder took its place.
TEST(PosixFolders, OpenChildAndParentOnlyAsListed) {
  using Replace = void (*)(const fs::path& sub, const fs::path& other);
  const std::pair<std::string_view, Replace> cases[] = {
      {"unchanged", nullptr},
      {"a link",
       [](const fs::path& sub, const fs::path& other) {
         fs::rename(sub, sub.string() + ".old");
         fs::create_directory_symlink(other, sub);
       }},
      {"another folder",
       [](const fs::path& sub, const fs::path& other) {
         fs::rename(sub, sub.string() + ".old");
         fs::rename(other, sub);
       }},
      {"gone", [](const fs::path& sub, const fs::path&) { fs::remove(sub); }},
  };
  for (const auto& [name, replace] : cases) {
    TempDir dir;
    fs::create_directories(dir / "root" / "sub");
    fs::create_directories(dir / "other");
    Folder root;
    ASSERT_TRUE(root.Open((dir / "root").native()));
    FileId listed;
    for (DirectoryListing listing(root, DirectoryListing::Scope::kEverything); listing.ok();
         listing.Next()) {
      if (listing.name() == "sub") listed = listing.folder_id();
    }
    ASSERT_FALSE(listed == FileId{});
    if (replace != nullptr) replace(dir / "root" / "sub", dir / "other");
    Folder sub;
    EXPECT_EQ(sub.OpenChild(root, "sub", listed), replace == nullptr) << name;
    if (!sub.is_open()) continue;
    Folder parent;
    EXPECT_FALSE(parent.OpenParent(sub, listed)) << "not the parent's identity";
    EXPECT_TRUE(parent.OpenParent(sub, root.id()));
  }
}

TEST(PosixFiles, ResolvePathFollowsLinksBeforeDotDot) {
  TempDir dir;
  fs::create_directories(dir / "real" / "inner");
  fs::create_directories(dir / "work");
  fs::create_directory_symlink(dir / "real" / "inner", dir / "work" / "link");
  const std::string root = fs::canonical(dir.path()).native();
  EXPECT_EQ(ResolvePath((dir / "work" / "link" / "..").native()), root + "/real");
  EXPECT_EQ(ResolvePath((dir / "work" / "." / "link").native()), root + "/real/inner");
  EXPECT_EQ(ResolvePath((dir / "missing").native()), "");
}

}  // namespace
}  // namespace orvane::platform
