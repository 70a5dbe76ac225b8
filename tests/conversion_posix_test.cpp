// Conversions that involve what only POSIX systems offer: FIFOs, sockets,
// symbolic links and devices.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "conversion/conversion.h"
#include "tests/file_size_limit.h"
#include "tests/test_support.h"

namespace orvane {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

TEST(ReadCourseTitle, IsEmptyWithoutARegularManifest) {
  TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "imsmanifest.xml").c_str(), 0600), 0);
  EXPECT_EQ(ReadCourseTitle(dir.path().native()), "");  // a FIFO must not block
  std::filesystem::remove(dir / "imsmanifest.xml");
  std::filesystem::create_symlink(dir / "gone.xml", dir / "imsmanifest.xml");
  EXPECT_EQ(ReadCourseTitle(dir.path().native()), "");
  WriteFile(dir / "real.xml", "<title>Linked</title>");
  std::filesystem::remove(dir / "imsmanifest.xml");
  std::filesystem::create_symlink(dir / "real.xml", dir / "imsmanifest.xml");
  EXPECT_EQ(ReadCourseTitle(dir.path().native()), "Linked");
}

TEST(ConvertCaptionFile, LeavesTheTranscriptAloneWhenTheCaptionFileCannotBeOpened) {
  TempDir dir;
  WriteFile(dir / "a.txt", "hand-edited");
  ::mkfifo((dir / "fifo.vtt").c_str(), 0600);
  std::filesystem::create_symlink(dir / "gone.vtt", dir / "dangling.vtt");
  std::filesystem::create_directory(dir / "folder.vtt");
  std::filesystem::create_directory_symlink(dir / "folder.vtt", dir / "folder-link.vtt");
  for (const char* name : {"fifo.vtt", "dangling.vtt", "folder-link.vtt", "/dev/null"}) {
    EXPECT_EQ(ConvertCaptionFile(dir / name, dir / "a.txt", "T"), ConversionResult::kOpenFailed)
        << name;
    EXPECT_EQ(ReadFile(dir / "a.txt"), "hand-edited") << name;
  }
}

TEST(ConvertCaptionFile, RefusesSocketsWithoutBlocking) {
  TempDir dir;
  const std::string path = (dir / "socket.vtt").string();
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof(address.sun_path));
  path.copy(address.sun_path, path.size());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  EXPECT_EQ(ConvertCaptionFile(path, dir / "socket.txt", ""), ConversionResult::kOpenFailed);
  EXPECT_FALSE(std::filesystem::exists(dir / "socket.txt"));
  ::close(fd);
}

TEST(ConvertCaptionFile, NeverBlocksOnAFifoAsTranscript) {
  TempDir dir;
  WriteFile(dir / "a.vtt", "Hi\n");
  ::mkfifo((dir / "b.txt").c_str(), 0600);
  EXPECT_EQ(ConvertCaptionFile(dir / "a.vtt", dir / "b.txt", ""), ConversionResult::kOpenFailed);
}

TEST(ConvertCaptionFile, NeverOverwritesTheCaptionFileThroughALink) {
  TempDir dir;
  WriteFile(dir / "a.vtt", "Keep me\n");
  std::filesystem::create_symlink(dir / "a.vtt", dir / "a.txt");
  std::filesystem::create_hard_link(dir / "a.vtt", dir / "b.txt");
  EXPECT_EQ(ConvertCaptionFile(dir / "a.vtt", dir / "a.txt", ""), ConversionResult::kOpenFailed);
  EXPECT_EQ(ConvertCaptionFile(dir / "a.vtt", dir / "b.txt", ""), ConversionResult::kOpenFailed);
  EXPECT_EQ(ReadFile(dir / "a.vtt"), "Keep me\n");
}

TEST(ConvertCaptionFile, KeepsTheOldTranscriptWhenTheWriteFails) {
  TempDir dir;
  WriteFile(dir / "small.vtt", "Hi\n");
  WriteFile(dir / "large.vtt", std::string(3 << 20, 'a') + "\n");
  WriteFile(dir / "large.txt", "old");
  {
    const testing::FileSizeLimit limit(1 << 20);
    EXPECT_EQ(ConvertCaptionFile(dir / "large.vtt", dir / "large.txt", ""),
              ConversionResult::kWriteFailed);
    EXPECT_EQ(ConvertCaptionFile(dir / "small.vtt", dir / "small.txt", ""),
              ConversionResult::kConverted);
  }
  EXPECT_EQ(ReadFile(dir / "large.txt"), "old");
  EXPECT_EQ(ReadFile(dir / "small.txt"), "Hi\r\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()),
            4);
  // Devices are not transcripts, even one that takes every byte.
  EXPECT_EQ(ConvertCaptionFile(dir / "small.vtt", "/dev/null", "T"), ConversionResult::kOpenFailed);
}

}  // namespace
}  // namespace orvane
