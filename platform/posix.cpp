// POSIX platform services. Paths and text are bytes: nothing is transcoded.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/platform.h"

namespace orvane::platform {
namespace {

constexpr char kSeparator = '/';

int ToFd(std::intptr_t handle) { return static_cast<int>(handle); }

// open(2) that retries when a signal interrupts it.
int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path, flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Turns O_NONBLOCK off again once a FIFO or device can no longer block the open.
bool MakeBlocking(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

}  // namespace

NativeChar PathSeparator() { return kSeparator; }

void RemoveLastComponent(NativeString& path) {
  const auto last = path.find_last_of(kSeparator);
  if (last == NativeString::npos) {
    path.clear();
  } else {
    // '/a' keeps its root: the separator at position 0 is the root itself.
    path.erase(last == 0 ? 1 : last);
  }
}

NativeString LastComponent(const NativeString& path) {
  const auto end = path.find_last_not_of(kSeparator);
  if (end == NativeString::npos) return path;  // empty, or nothing but the root
  const auto last = path.find_last_of(kSeparator, end);
  return last == NativeString::npos ? path : path.substr(last + 1);
}

NativeString FromNarrow(std::string_view narrow) { return NativeString(narrow); }

std::string ToNarrow(NativeStringView text) { return std::string(text); }

struct DirectoryListing::Impl {
  explicit Impl(const NativeString& folder_path)
      : folder(folder_path), dir(::opendir(folder_path.c_str())) {}
  ~Impl() {
    if (dir != nullptr) ::closedir(dir);
  }
  NativeString folder;
  DIR* dir;
  NativeString name;
  bool is_directory = false;
  bool ok = false;
  bool failed = false;
};

DirectoryListing::DirectoryListing(const NativeString& folder)
    : impl_(std::make_unique<Impl>(folder)) {
  if (impl_->dir != nullptr) Next();
}

DirectoryListing::~DirectoryListing() = default;

bool DirectoryListing::ok() const { return impl_->ok; }

const NativeString& DirectoryListing::name() const { return impl_->name; }

bool DirectoryListing::is_directory() const { return impl_->is_directory; }

bool DirectoryListing::failed() const { return impl_->failed; }

bool DirectoryListing::Next() {
  impl_->ok = false;
  if (impl_->dir == nullptr) return false;
  // readdir(3) tells the end from an error only by errno.
  errno = 0;
  const dirent* entry = ::readdir(impl_->dir);
  if (entry == nullptr) {
    impl_->failed = errno != 0;
    return false;
  }
  impl_->name = entry->d_name;
  impl_->is_directory = entry->d_type == DT_DIR;
  if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
    // Links are followed so that a link to a folder counts as a folder; a
    // dangling link is not a folder and fails later when it is opened.
    struct stat info;
    const NativeString full = impl_->folder + kSeparator + impl_->name;
    impl_->is_directory = ::stat(full.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
  }
  impl_->ok = true;
  return true;
}

InputFile::~InputFile() {
  if (handle_ >= 0) ::close(ToFd(handle_));
}

bool InputFile::Open(const std::filesystem::path& path) {
  // O_NONBLOCK keeps open(2) from waiting for a writer on a FIFO; anything
  // that is not a regular file is refused right after.
  const int fd = OpenRetrying(path.c_str(), O_RDONLY | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat info;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || !MakeBlocking(fd)) {
    ::close(fd);
    return false;
  }
  handle_ = fd;
  return true;
}

std::ptrdiff_t InputFile::Read(char* buffer, std::size_t size) {
  ssize_t count;
  do {
    count = ::read(ToFd(handle_), buffer, size);
  } while (count < 0 && errno == EINTR);
  return count;
}

OutputFile::~OutputFile() {
  if (handle_ >= 0) ::close(ToFd(handle_));
}

bool OutputFile::Create(const std::filesystem::path& path, const InputFile& source) {
  // Opened without O_TRUNC so that nothing is lost when the path turns out to
  // be the caption file itself; truncated only after that check.
  const int fd = OpenRetrying(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK, 0666);
  if (fd < 0) return false;
  struct stat info;
  struct stat source_info;
  bool ok = ::fstat(fd, &info) == 0 && ::fstat(ToFd(source.handle_), &source_info) == 0 &&
            !(info.st_dev == source_info.st_dev && info.st_ino == source_info.st_ino) &&
            MakeBlocking(fd);
  if (ok && S_ISREG(info.st_mode)) ok = ::ftruncate(fd, 0) == 0;
  if (!ok) {
    ::close(fd);
    return false;
  }
  handle_ = fd;
  return true;
}

bool OutputFile::Write(const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t count = ::write(ToFd(handle_), data, size);
    if (count < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += count;
    size -= static_cast<std::size_t>(count);
  }
  return true;
}

bool OutputFile::Close() {
  if (handle_ < 0) return false;
  const int fd = ToFd(handle_);
  handle_ = -1;
  // POSIX leaves the descriptor closed even when close(2) reports EINTR.
  return ::close(fd) == 0;
}

}  // namespace orvane::platform
