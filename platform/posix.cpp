// POSIX platform services. Paths and text are bytes: nothing is transcoded.
#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>

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

// write(2) until all `size` bytes are written, retrying when a signal
// interrupts it. Returns false on any error.
bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t count = ::write(fd, data, size);
    if (count < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += count;
    size -= static_cast<std::size_t>(count);
  }
  return true;
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
  bool is_link = false;
  bool ok = false;
  bool failed = false;
};

// Every entry is listed on POSIX, whatever the scope.
DirectoryListing::DirectoryListing(const NativeString& folder, Scope /*scope*/)
    : impl_(std::make_unique<Impl>(folder)) {
  if (impl_->dir == nullptr) {
    impl_->failed = true;
  } else {
    Next();
  }
}

DirectoryListing::~DirectoryListing() = default;

bool DirectoryListing::ok() const { return impl_->ok; }

const NativeString& DirectoryListing::name() const { return impl_->name; }

bool DirectoryListing::is_directory() const { return impl_->is_directory; }

bool DirectoryListing::is_link() const { return impl_->is_link; }

bool DirectoryListing::failed() const { return impl_->failed; }

std::uint64_t DirectoryListing::size() const {
  struct stat info;
  if (impl_->dir == nullptr || ::fstatat(::dirfd(impl_->dir), impl_->name.c_str(), &info, 0) != 0 ||
      !S_ISREG(info.st_mode)) {
    return 0;
  }
  return static_cast<std::uint64_t>(info.st_size);
}

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
  impl_->is_link = entry->d_type == DT_LNK;
  if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
    // Links are followed so that a link to a folder counts as a folder; a
    // dangling link is not a folder and fails later when it is opened.
    struct stat info;
    const NativeString full = impl_->folder + kSeparator + impl_->name;
    if (entry->d_type == DT_UNKNOWN) {
      impl_->is_link = ::lstat(full.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
    }
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

std::ptrdiff_t InputFile::ReadAt(std::uint64_t offset, char* buffer, std::size_t size) {
  ssize_t count;
  do {
    count = ::pread(ToFd(handle_), buffer, size, static_cast<off_t>(offset));
  } while (count < 0 && errno == EINTR);
  return count;
}

namespace {

// True when `path` names a regular file that this process may write and that
// is not the file `model` reads, or nothing at all; `existing` then tells
// which, and `info` describes the file.
bool MayReplace(const char* path, const struct stat& model, bool& existing, struct stat& info) {
  if (::lstat(path, &info) != 0) {
    existing = false;
    return errno == ENOENT;
  }
  existing = true;
  if (!S_ISREG(info.st_mode)) return false;  // links, folders, FIFOs, sockets, devices
  // The kernel's own test of the right to write, with the effective ids:
  // it sees modes, ACLs, read-only mounts and immutable files alike, and
  // opens nothing.
  if (::faccessat(AT_FDCWD, path, W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0) return false;
  // Replacing another name of the caption file would leave it intact, but the
  // very name it was opened by (a second spelling of it) would not.
  return !(info.st_dev == model.st_dev && info.st_ino == model.st_ino);
}

// A name for a temporary file that no other run picks: 12 random hex digits.
std::string TemporaryName() {
  thread_local std::mt19937_64 random(std::random_device{}() ^
                                      (static_cast<std::uint64_t>(::getpid()) << 32));
  char name[32];
  std::snprintf(name, sizeof name, ".orvane-%012llx.tmp",
                static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
  return name;
}

}  // namespace

ReplacementFile::~ReplacementFile() {
  if (handle_ >= 0) ::close(ToFd(handle_));
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
}

bool ReplacementFile::Create(const std::filesystem::path& path, const InputFile& model) {
  struct stat model_info;
  if (::fstat(ToFd(model.handle_), &model_info) != 0) return false;
  bool existing = false;
  struct stat info;
  if (!MayReplace(path.c_str(), model_info, existing, info)) return false;
  const mode_t mode = existing ? info.st_mode & 0777 : model_info.st_mode & 0666;
  const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::filesystem::path temporary = folder / TemporaryName();
    const int fd = OpenRetrying(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL, mode);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return false;
    }
    handle_ = fd;
    path_ = path;
    temporary_ = std::move(temporary);
    if (existing) {
      // The replaced file's owner and mode, where this process may set them;
      // the owner first, since changing it clears set-id bits.
      static const uid_t user = ::geteuid();
      static const gid_t group = ::getegid();
      if (info.st_uid != user || info.st_gid != group) {
        [[maybe_unused]] const int ignored = ::fchown(fd, info.st_uid, info.st_gid);
      }
      ::fchmod(fd, mode);
    }
    return true;
  }
  return false;
}

bool ReplacementFile::Write(const char* data, std::size_t size) {
  return WriteAll(ToFd(handle_), data, size);
}

bool ReplacementFile::Commit() {
  if (handle_ < 0) return false;
  const int fd = ToFd(handle_);
  handle_ = -1;
  // POSIX leaves the descriptor closed even when close(2) reports EINTR; on
  // some file systems a write error shows only here.
  const bool ok = ::close(fd) == 0 && ::rename(temporary_.c_str(), path_.c_str()) == 0;
  if (!ok) ::unlink(temporary_.c_str());
  temporary_.clear();
  return ok;
}

ScratchFile::~ScratchFile() {
  if (handle_ >= 0) ::close(ToFd(handle_));
}

bool ScratchFile::Append(const char* data, std::size_t size) {
  if (handle_ < 0) {
    const char* folder = std::getenv("TMPDIR");
    if (folder == nullptr || *folder == '\0') folder = "/tmp";
    // A file without a name where the system has them; otherwise a named one
    // removed at once.
    int fd = OpenRetrying(folder, O_RDWR | O_TMPFILE | O_EXCL, 0600);
    if (fd < 0) {
      std::string name = std::string(folder) + "/orvane-XXXXXX";
      fd = ::mkostemp(name.data(), O_CLOEXEC);
      if (fd < 0) return false;
      ::unlink(name.c_str());
    }
    handle_ = fd;
    size_ = 0;
  }
  while (size > 0) {
    const ssize_t count = ::pwrite(ToFd(handle_), data, size, static_cast<off_t>(size_));
    if (count < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += count;
    size -= static_cast<std::size_t>(count);
    size_ += static_cast<std::uint64_t>(count);
  }
  return true;
}

std::ptrdiff_t ScratchFile::ReadAt(std::uint64_t offset, char* buffer, std::size_t size) {
  if (handle_ < 0) return 0;
  ssize_t count;
  do {
    count = ::pread(ToFd(handle_), buffer, size, static_cast<off_t>(offset));
  } while (count < 0 && errno == EINTR);
  return count;
}

bool ScratchFile::Clear() {
  size_ = 0;
  return handle_ < 0 || ::ftruncate(ToFd(handle_), 0) == 0;
}

std::ptrdiff_t ReadStandardInput(char* buffer, std::size_t size) {
  ssize_t count;
  do {
    count = ::read(STDIN_FILENO, buffer, size);
  } while (count < 0 && errno == EINTR);
  return count;
}

bool WriteStandardOutput(const char* data, std::size_t size) {
  return WriteAll(STDOUT_FILENO, data, size);
}

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

int StandardErrorColumns() {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  // As terminal programs do when the terminal does not say.
  if (const char* columns = std::getenv("COLUMNS")) return std::atoi(columns);
  return 0;
}

unsigned UsableProcessors() {
  cpu_set_t set;
  if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) {
    return static_cast<unsigned>(CPU_COUNT(&set));
  }
  return std::max(1u, std::thread::hardware_concurrency());
}

NativeString ResolvePath(const NativeString& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return {};
  NativeString result = resolved;
  std::free(resolved);
  return result;
}

}  // namespace orvane::platform
