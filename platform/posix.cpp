// POSIX platform services. Paths and text are bytes: nothing is transcoded.
#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <thread>
#include <utility>

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

// openat(2) that retries when a signal interrupts it.
int OpenAtRetrying(int at, const char* name, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::openat(at, name, flags | O_CLOEXEC, mode);
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

namespace {

// The folder of `path` and the name in it: "a/b.vtt" gives "a" and "b.vtt",
// "b.vtt" gives "." and "b.vtt".
std::pair<NativeString, NativeString> SplitPath(const std::filesystem::path& path) {
  const NativeString& text = path.native();
  const auto last = text.find_last_of(kSeparator);
  if (last == NativeString::npos) return {".", text};
  return {last == 0 ? NativeString(1, kSeparator) : text.substr(0, last), text.substr(last + 1)};
}

FileId IdOf(const struct stat& info) {
  return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

// Opens the folder `name` relative to `at` with `flags`; true when it is the
// folder `expected`.
int OpenFolderAt(int at, const char* name, int flags, const FileId* expected) {
  const int fd = OpenAtRetrying(at, name, O_RDONLY | O_DIRECTORY | flags);
  if (fd < 0 || expected == nullptr) return fd;
  struct stat info;
  if (::fstat(fd, &info) != 0 || !(IdOf(info) == *expected)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Opens the folder at `path`, longer than the system takes at once, a part
// of at most kPart bytes at a time, each relative to the folder before it.
int OpenLongPath(const NativeString& path) {
  constexpr std::size_t kPart = 1024;
  int at = AT_FDCWD;
  std::size_t start = 0;
  if (!path.empty() && path.front() == kSeparator) {
    at = OpenFolderAt(AT_FDCWD, "/", 0, nullptr);
    start = 1;
  }
  while (at >= 0 && start < path.size()) {
    // The part ends at a separator; a single name is never longer than kPart.
    std::size_t end = std::min(path.size(), start + kPart);
    if (end < path.size()) {
      const auto separator = path.rfind(kSeparator, end);
      end = separator != NativeString::npos && separator > start ? separator : end;
    }
    const int next = OpenFolderAt(at, path.substr(start, end - start).c_str(), 0, nullptr);
    if (at != AT_FDCWD) ::close(at);
    at = next;
    start = end + 1;
  }
  return at == AT_FDCWD ? -1 : at;
}

}  // namespace

Folder::~Folder() { Close(); }

Folder::Folder(Folder&& other) noexcept : handle_(std::exchange(other.handle_, -1)) {}

Folder& Folder::operator=(Folder&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, -1);
  }
  return *this;
}

void Folder::Close() {
  if (handle_ >= 0) ::close(ToFd(handle_));
  handle_ = -1;
}

bool Folder::Open(const NativeString& path) {
  Close();
  handle_ = OpenFolderAt(AT_FDCWD, path.c_str(), 0, nullptr);
  if (handle_ < 0 && errno == ENAMETOOLONG) handle_ = OpenLongPath(path);
  return is_open();
}

bool Folder::OpenChild(const Folder& parent, const NativeString& name, const FileId& expected) {
  Close();
  handle_ = OpenFolderAt(ToFd(parent.handle_), name.c_str(), O_NOFOLLOW, &expected);
  return is_open();
}

bool Folder::OpenParent(const Folder& child, const FileId& expected) {
  Close();
  handle_ = OpenFolderAt(ToFd(child.handle_), "..", 0, &expected);
  return is_open();
}

FileId Folder::id() const {
  struct stat info;
  if (handle_ < 0 || ::fstat(ToFd(handle_), &info) != 0) return {};
  return IdOf(info);
}

struct DirectoryListing::Impl {
  explicit Impl(int folder_fd) {
    // The listing reads through an open file of its own, with a position of
    // its own (a duplicate descriptor would share the folder's); closedir
    // closes it.
    const int fd = folder_fd >= 0 ? OpenAtRetrying(folder_fd, ".", O_RDONLY | O_DIRECTORY) : -1;
    if (fd >= 0) {
      dir = ::fdopendir(fd);
      if (dir == nullptr) ::close(fd);
    }
  }
  ~Impl() {
    if (dir != nullptr) ::closedir(dir);
  }
  int fd() const { return ::dirfd(dir); }
  DIR* dir = nullptr;
  NativeString name;
  bool is_directory = false;
  bool is_link = false;
  bool ok = false;
  bool failed = false;
};

// Every entry is listed on POSIX, whatever the scope.
DirectoryListing::DirectoryListing(const Folder& folder, Scope /*scope*/)
    : impl_(std::make_unique<Impl>(ToFd(folder.handle_))) {
  if (impl_->dir == nullptr) {
    impl_->failed = true;
  } else {
    Next();
  }
}

DirectoryListing::DirectoryListing(const NativeString& path, Scope scope)
    : DirectoryListing(
          [&path] {
            Folder folder;
            folder.Open(path);
            return folder;
          }(),
          scope) {}

DirectoryListing::~DirectoryListing() = default;

bool DirectoryListing::ok() const { return impl_->ok; }

const NativeString& DirectoryListing::name() const { return impl_->name; }

bool DirectoryListing::is_directory() const { return impl_->is_directory; }

bool DirectoryListing::is_link() const { return impl_->is_link; }

bool DirectoryListing::failed() const { return impl_->failed; }

FileId DirectoryListing::folder_id() const {
  struct stat info;
  if (!impl_->ok || !impl_->is_directory || impl_->is_link ||
      ::fstatat(impl_->fd(), impl_->name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISDIR(info.st_mode)) {
    return {};
  }
  return IdOf(info);
}

std::uint64_t DirectoryListing::size() const {
  struct stat info;
  if (impl_->dir == nullptr || ::fstatat(impl_->fd(), impl_->name.c_str(), &info, 0) != 0 ||
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
    const char* name = impl_->name.c_str();
    if (entry->d_type == DT_UNKNOWN) {
      impl_->is_link =
          ::fstatat(impl_->fd(), name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode);
    }
    impl_->is_directory = ::fstatat(impl_->fd(), name, &info, 0) == 0 && S_ISDIR(info.st_mode);
  }
  impl_->ok = true;
  return true;
}

namespace {

// As root, a caption reached through a symbolic link is read only when the
// link and the file opened through it (`opened`) have one owner; a name that
// is no link must still be the file opened, not one put there since.
bool OwnersMatch(int at, const char* name, const struct stat& opened) {
  static const bool root = ::geteuid() == 0;
  if (!root) return true;
  struct stat entry;
  if (::fstatat(at, name, &entry, AT_SYMLINK_NOFOLLOW) != 0) return false;
  if (S_ISLNK(entry.st_mode)) return entry.st_uid == opened.st_uid;
  return IdOf(entry) == IdOf(opened);
}

}  // namespace

InputFile::~InputFile() {
  if (handle_ >= 0) ::close(ToFd(handle_));
}

bool InputFile::Open(const Folder& folder, const NativeString& name) {
  const int at = ToFd(folder.handle_);
  if (at < 0 || handle_ >= 0) return false;
  // O_NONBLOCK keeps open(2) from waiting for a writer on a FIFO; anything
  // that is not a regular file is refused right after.
  const int fd = OpenAtRetrying(at, name.c_str(), O_RDONLY | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat info;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || !OwnersMatch(at, name.c_str(), info) ||
      !MakeBlocking(fd)) {
    ::close(fd);
    return false;
  }
  handle_ = fd;
  return true;
}

bool InputFile::Open(const std::filesystem::path& path) {
  const auto [folder_path, name] = SplitPath(path);
  Folder folder;
  return folder.Open(folder_path) && Open(folder, name);
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

// True when `name` in the folder `at` is a regular file that this process may
// write and that is not the file `model` reads, or nothing at all; `existing`
// then tells which, and `info` describes the file.
bool MayReplace(int at, const char* name, const struct stat& model, bool& existing,
                struct stat& info) {
  if (::fstatat(at, name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
    existing = false;
    return errno == ENOENT;
  }
  existing = true;
  if (!S_ISREG(info.st_mode)) return false;  // links, folders, FIFOs, sockets, devices
  // The kernel's own test of the right to write, with the effective ids:
  // it sees modes, ACLs, read-only mounts and immutable files alike, and
  // opens nothing.
  if (::faccessat(at, name, W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0) return false;
  // Replacing another name of the caption file would leave it intact, but the
  // very name it was opened by (a second spelling of it) would not.
  return !(IdOf(info) == IdOf(model));
}

constexpr std::string_view kTemporaryPrefix = ".orvane-";
constexpr std::string_view kTemporarySuffix = ".tmp";
constexpr std::size_t kTemporaryDigits = 12;

// A name for a temporary file that no other run picks: 12 random hex digits.
std::string TemporaryName() {
  thread_local std::mt19937_64 random(std::random_device{}() ^
                                      (static_cast<std::uint64_t>(::getpid()) << 32));
  char name[32];
  std::snprintf(name, sizeof name, ".orvane-%012llx.tmp",
                static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
  return name;
}

// The temporary files being written, for the signal handler: a fixed table,
// since a handler may not allocate or lock. A slot is free (0), being filled
// (1) or names a temporary file (2). One per thread of the largest run, and
// some to spare.
struct TemporarySlot {
  std::atomic<int> state{0};
  int folder = -1;
  char name[32] = {};
};
static_assert(std::atomic<int>::is_always_lock_free);
constexpr int kTemporarySlots = 2048;
TemporarySlot temporaries[kTemporarySlots];

// Records the temporary file `name` of the folder `folder`; returns its slot,
// or -1 when the table is full (the file is then not removed on a signal).
int RecordTemporary(int folder, const std::string& name) {
  for (int i = 0; i < kTemporarySlots; ++i) {
    TemporarySlot& slot = temporaries[i];
    int free = 0;
    if (!slot.state.compare_exchange_strong(free, 1, std::memory_order_acquire)) continue;
    slot.folder = folder;
    std::memcpy(slot.name, name.c_str(), std::min(name.size() + 1, sizeof slot.name));
    slot.state.store(2, std::memory_order_release);
    return i;
  }
  return -1;
}

void ForgetTemporary(int& slot) {
  if (slot >= 0) temporaries[slot].state.store(0, std::memory_order_release);
  slot = -1;
}

extern "C" void RemoveTemporariesAndEnd(int signal_number) {
  for (TemporarySlot& slot : temporaries) {
    if (slot.state.load(std::memory_order_acquire) == 2) ::unlinkat(slot.folder, slot.name, 0);
  }
  // The signal is blocked while its handler runs: raised again with its
  // default action, it ends the process once the handler returns, with the
  // status a parent expects of it.
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);
}

// Mode bits of the new version of a file: a new file gets the read bits of
// the caption and its owner's write bit (the umask applies when it is
// created); a replaced file keeps its mode less the read bits the caption
// does not grant, so that the transcript never has readers the caption lacks.
mode_t NewMode(bool existing, const struct stat& replaced, const struct stat& model) {
  const mode_t granted = model.st_mode & 0444;
  if (!existing) return granted | S_IWUSR;
  return replaced.st_mode & 0777 & ~(0444 & ~granted);
}

// Opens the file `name` of the folder `at` to be written in place, emptied,
// when it is still the regular file `info` describes; -1 otherwise.
int OpenInPlace(int at, const char* name, const struct stat& info, mode_t mode) {
  const int fd = OpenAtRetrying(at, name, O_WRONLY | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat opened;
  if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) || !(IdOf(opened) == IdOf(info)) ||
      !MakeBlocking(fd) || ::ftruncate(fd, 0) != 0) {
    ::close(fd);
    return -1;
  }
  if ((info.st_mode & 0777) != mode) ::fchmod(fd, mode);
  return fd;
}

}  // namespace

ReplacementFile::~ReplacementFile() {
  if (handle_ >= 0) ::close(ToFd(handle_));
  if (!temporary_.empty()) ::unlinkat(ToFd(folder_->handle_), temporary_.c_str(), 0);
  ForgetTemporary(slot_);
}

bool ReplacementFile::Create(const std::filesystem::path& path, const InputFile& model) {
  const auto [folder_path, name] = SplitPath(path);
  return handle_ < 0 && own_folder_.Open(folder_path) && CreateIn(own_folder_, name, model);
}

bool ReplacementFile::Create(const Folder& folder, const NativeString& name,
                             const InputFile& model) {
  return handle_ < 0 && folder.is_open() && CreateIn(folder, name, model);
}

bool ReplacementFile::CreateIn(const Folder& folder, const NativeString& name,
                               const InputFile& model) {
  const int at = ToFd(folder.handle_);
  struct stat model_info;
  if (::fstat(ToFd(model.handle_), &model_info) != 0) return false;
  bool existing = false;
  struct stat info;
  if (!MayReplace(at, name.c_str(), model_info, existing, info)) return false;
  const mode_t mode = NewMode(existing, info, model_info);
  folder_ = &folder;
  name_ = name;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string temporary = TemporaryName();
    // Recorded before it exists, so that no signal finds it unrecorded.
    slot_ = RecordTemporary(at, temporary);
    const int fd = OpenAtRetrying(at, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL, mode);
    if (fd < 0) {
      ForgetTemporary(slot_);
      if (errno == EEXIST) continue;
      // A folder this process may not write into, holding a file it may
      // write: that file is written in place, as nothing else can be.
      if (!existing || (errno != EACCES && errno != EPERM)) return false;
      handle_ = OpenInPlace(at, name.c_str(), info, mode);
      return handle_ >= 0;
    }
    handle_ = fd;
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
  bool ok = ::close(fd) == 0;
  if (!temporary_.empty()) {
    const int at = ToFd(folder_->handle_);
    ok = ok && ::renameat(at, temporary_.c_str(), at, name_.c_str()) == 0;
    if (!ok) ::unlinkat(at, temporary_.c_str(), 0);
    temporary_.clear();
  }
  ForgetTemporary(slot_);
  return ok;
}

void RemoveTemporariesOnSignals() {
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction action {};
    // A signal ignored by whoever started the process (nohup) stays ignored.
    if (::sigaction(signal_number, nullptr, &action) != 0 || action.sa_handler == SIG_IGN) {
      continue;
    }
    action = {};
    action.sa_handler = RemoveTemporariesAndEnd;
    sigfillset(&action.sa_mask);
    ::sigaction(signal_number, &action, nullptr);
  }
}

bool RemoveStaleTemporary(const Folder& folder, const NativeString& name) {
  const std::string_view text = name;
  if (text.size() != kTemporaryPrefix.size() + kTemporaryDigits + kTemporarySuffix.size() ||
      !text.starts_with(kTemporaryPrefix) || !text.ends_with(kTemporarySuffix) ||
      text.substr(kTemporaryPrefix.size(), kTemporaryDigits)
              .find_first_not_of("0123456789abcdef") != std::string_view::npos) {
    return false;
  }
  constexpr std::time_t kStaleAfter = 60 * 60;
  struct stat info;
  const int at = ToFd(folder.handle_);
  if (at >= 0 && ::fstatat(at, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISREG(info.st_mode) && info.st_uid == ::geteuid() &&
      info.st_mtime < std::time(nullptr) - kStaleAfter) {
    ::unlinkat(at, name.c_str(), 0);
  }
  return true;
}

namespace {
bool standard_output_closed = false;
}  // namespace

void GuardStandardStreams() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    if (fd == STDOUT_FILENO) standard_output_closed = true;
    // Not close-on-exec: it stands in for the stream. The lowest free number
    // is this one while the lower streams are open.
    const int null = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (null >= 0 && null != fd) {
      ::dup2(null, fd);
      ::close(null);
    }
  }
}

bool StandardOutputWasClosed() { return standard_output_closed; }

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
  // Closed at start, it stands on /dev/null: the bytes would go nowhere.
  return !standard_output_closed && WriteAll(STDOUT_FILENO, data, size);
}

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

int StandardErrorColumns() {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  // As terminal programs do when the terminal does not say.
  if (const char* columns = std::getenv("COLUMNS")) return std::atoi(columns);
  return 0;
}

std::string UserLocaleName() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* const value = std::getenv(name);
    if (value != nullptr && *value != '\0') return value;
  }
  return {};
}

unsigned UsableProcessors() {
  cpu_set_t set;
  if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) {
    return static_cast<unsigned>(CPU_COUNT(&set));
  }
  return std::max(1u, std::thread::hardware_concurrency());
}

std::uint64_t OpenFilesLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
    return UINT64_MAX;
  }
  return static_cast<std::uint64_t>(limit.rlim_cur);
}

NativeString ResolvePath(const NativeString& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return {};
  NativeString result = resolved;
  std::free(resolved);
  return result;
}

}  // namespace orvane::platform
