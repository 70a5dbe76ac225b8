#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "platform/platform.h"
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

TEST(PosixFiles, OutputFileReportsEveryFailure) {
  TempDir dir;
  WriteFile(dir / "source", "x");
  InputFile source;
  ASSERT_TRUE(source.Open(dir / "source"));
  OutputFile full;
  ASSERT_TRUE(full.Create("/dev/full", source));
  EXPECT_FALSE(full.Write("x", 1));
  OutputFile out;
  ASSERT_TRUE(out.Create(dir / "out", source));
  EXPECT_TRUE(out.Write("hello", 5));
  EXPECT_TRUE(out.Close());
  EXPECT_FALSE(out.Close());
  EXPECT_EQ(testing::ReadFile(dir / "out"), "hello");
  EXPECT_FALSE(OutputFile().Create(dir / "source", source));
  EXPECT_EQ(testing::ReadFile(dir / "source"), "x");
}

}  // namespace
}  // namespace orvane::platform
