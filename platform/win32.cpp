// Win32 platform services. Paths are UTF-16 and reach the system only through
// the wide (...W) calls, so every name opens as it is, whatever the code page.
#include <windows.h>
// windows.h first: shlwapi.h relies on its types.
#include <shlwapi.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <iterator>
#include <random>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "platform/win32_io.h"

namespace orvane::platform {
namespace {

constexpr wchar_t kSeparator = L'\\';
// The shell's path buffer: 259 characters and the terminator.
constexpr std::size_t kPathBuffer = MAX_PATH;
// ReadFile and WriteFile take a 32-bit count; larger requests go in pieces.
constexpr std::size_t kMaxTransfer = 1u << 30;

HANDLE ToHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

std::intptr_t FromHandle(HANDLE handle) { return reinterpret_cast<std::intptr_t>(handle); }

constexpr std::intptr_t kNoHandle = -1;
static_assert(kNoHandle == static_cast<std::intptr_t>(-1) &&
              sizeof(std::intptr_t) == sizeof(HANDLE));

// True for an open handle of a file on a disk (not a pipe, console or device)
// that is not a folder; `info` receives its identity.
bool IsRegularFile(HANDLE handle, BY_HANDLE_FILE_INFORMATION& info) {
  return ::GetFileType(handle) == FILE_TYPE_DISK && ::GetFileInformationByHandle(handle, &info) &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

NativeChar PathSeparator() { return kSeparator; }

void RemoveLastComponent(NativeString& path) {
  // PathRemoveFileSpecW edits in place and only ever shortens, so a buffer
  // holding the whole path (and never less than the shell's 260) is enough:
  // longer paths are neither cut off nor overrun.
  std::vector<wchar_t> buffer(std::max(kPathBuffer, path.size() + 1), L'\0');
  std::copy(path.begin(), path.end(), buffer.begin());
  ::PathRemoveFileSpecW(buffer.data());
  path.assign(buffer.data());
}

NativeString LastComponent(const NativeString& path) {
  return NativeString(::PathFindFileNameW(path.c_str()));
}

NativeString FromNarrow(std::string_view narrow) {
  if (narrow.empty() || narrow.size() > INT_MAX) return {};
  const int size = static_cast<int>(narrow.size());
  const int length = ::MultiByteToWideChar(CP_THREAD_ACP, 0, narrow.data(), size, nullptr, 0);
  if (length <= 0) return {};
  NativeString wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_THREAD_ACP, 0, narrow.data(), size, wide.data(), length);
  return wide;
}

std::string ToNarrow(NativeStringView text) {
  if (text.empty() || text.size() > INT_MAX) return {};
  const int size = static_cast<int>(text.size());
  const int length =
      ::WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string narrow(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), size, narrow.data(), length, nullptr,
                        nullptr);
  return narrow;
}

namespace {

// `path` in the form that lifts MAX_PATH from the wide calls: absolute, with
// the "\\?\" prefix ("\\?\UNC\" for a share); `path` itself when it cannot
// be made absolute.
NativeString LongPathForm(const NativeString& path) {
  if (path.rfind(L"\\\\?\\", 0) == 0) return path;
  const NativeString full = ResolvePath(path);
  if (full.empty()) return path;
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  // The prefix turns off the system's clean-up of names: no separator may be
  // doubled when a name is joined on.
  return L"\\\\?\\" + full;
}

// `folder` and `name` joined by one separator.
NativeString JoinPath(const NativeString& folder, const NativeString& name) {
  NativeString path = folder;
  if (!path.empty() && path.back() != kSeparator) path += kSeparator;
  return path += name;
}

FileId IdOf(const BY_HANDLE_FILE_INFORMATION& info) {
  return {info.dwVolumeSerialNumber,
          (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

// Opens the folder at `path`; with `no_reparse`, refuses a reparse point
// (a link or junction) there, and with `expected`, any folder but that one.
// Others may read and write in the folder while it is open, but not rename or
// remove it.
HANDLE OpenFolderHandle(const NativeString& path, bool no_reparse, FileId* id,
                        const FileId* expected = nullptr) {
  const HANDLE handle = ::CreateFileW(
      path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
      nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | (no_reparse ? FILE_FLAG_OPEN_REPARSE_POINT : 0), nullptr);
  if (handle == INVALID_HANDLE_VALUE) return handle;
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(handle, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      (no_reparse && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) ||
      (expected != nullptr && !(IdOf(info) == *expected))) {
    ::CloseHandle(handle);
    return INVALID_HANDLE_VALUE;
  }
  if (id != nullptr) *id = IdOf(info);
  return handle;
}

}  // namespace

Folder::~Folder() { Close(); }

Folder::Folder(Folder&& other) noexcept
    : handle_(std::exchange(other.handle_, kNoHandle)), path_(std::move(other.path_)) {}

Folder& Folder::operator=(Folder&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, kNoHandle);
    path_ = std::move(other.path_);
  }
  return *this;
}

void Folder::Close() {
  if (handle_ != kNoHandle) ::CloseHandle(ToHandle(handle_));
  handle_ = kNoHandle;
}

bool Folder::Open(const NativeString& path) {
  Close();
  path_ = LongPathForm(path);
  const HANDLE handle = OpenFolderHandle(path_, false, nullptr);
  if (handle != INVALID_HANDLE_VALUE) handle_ = FromHandle(handle);
  return is_open();
}

bool Folder::OpenChild(const Folder& parent, const NativeString& name, const FileId& expected) {
  Close();
  path_ = JoinPath(parent.path_, name);
  const HANDLE handle = OpenFolderHandle(path_, true, nullptr, &expected);
  if (handle != INVALID_HANDLE_VALUE) handle_ = FromHandle(handle);
  return is_open();
}

bool Folder::OpenParent(const Folder& child, const FileId& expected) {
  Close();
  path_ = child.path_;
  while (!path_.empty() && path_.back() == kSeparator) path_.pop_back();
  const auto last = path_.find_last_of(kSeparator);
  if (last == NativeString::npos) return false;
  path_.erase(last + 1);
  const HANDLE handle = OpenFolderHandle(path_, false, nullptr, &expected);
  if (handle != INVALID_HANDLE_VALUE) handle_ = FromHandle(handle);
  return is_open();
}

FileId Folder::id() const {
  BY_HANDLE_FILE_INFORMATION info;
  if (handle_ == kNoHandle || !::GetFileInformationByHandle(ToHandle(handle_), &info)) return {};
  return IdOf(info);
}

struct DirectoryListing::Impl {
  ~Impl() {
    if (search != INVALID_HANDLE_VALUE) ::FindClose(search);
  }
  HANDLE search = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAW entry{};
  NativeString folder;  // the long-path form
  NativeString name;
  bool ok = false;
  bool failed = false;

  void Take() {
    name = entry.cFileName;
    ok = true;
  }
};

DirectoryListing::DirectoryListing(const Folder& folder, Scope scope)
    : impl_(std::make_unique<Impl>()) {
  impl_->folder = folder.path_;
  if (!folder.is_open()) {
    impl_->failed = true;
    return;
  }
  const NativeString pattern = JoinPath(folder.path_, scope == Scope::kCaptions ? L"*.vtt" : L"*");
  impl_->search = ::FindFirstFileW(pattern.c_str(), &impl_->entry);
  if (impl_->search != INVALID_HANDLE_VALUE) {
    impl_->Take();
  } else {
    // No match of the pattern is an empty listing, not a failure.
    impl_->failed = ::GetLastError() != ERROR_FILE_NOT_FOUND;
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

bool DirectoryListing::is_directory() const {
  return (impl_->entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool DirectoryListing::is_link() const {
  return (impl_->entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

FileId DirectoryListing::folder_id() const {
  FileId id;
  if (!impl_->ok || !is_directory() || is_link()) return id;
  const HANDLE handle = OpenFolderHandle(JoinPath(impl_->folder, impl_->name), true, &id);
  if (handle == INVALID_HANDLE_VALUE) return {};
  ::CloseHandle(handle);
  return id;
}

bool DirectoryListing::failed() const { return impl_->failed; }

std::uint64_t DirectoryListing::size() const {
  // The entry of a symbolic link holds the link's own size, 0.
  const WIN32_FIND_DATAW& entry = impl_->entry;
  if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return 0;
  return (std::uint64_t{entry.nFileSizeHigh} << 32) | entry.nFileSizeLow;
}

bool DirectoryListing::Next() {
  impl_->ok = false;
  if (impl_->search == INVALID_HANDLE_VALUE) return false;
  if (!::FindNextFileW(impl_->search, &impl_->entry)) {
    impl_->failed = ::GetLastError() != ERROR_NO_MORE_FILES;
    return false;
  }
  impl_->Take();
  return true;
}

InputFile::~InputFile() {
  if (handle_ != kNoHandle) ::CloseHandle(ToHandle(handle_));
}

bool InputFile::Open(const Folder& folder, const NativeString& name) {
  return folder.is_open() && Open(JoinPath(folder.path_, name));
}

bool InputFile::Open(const std::filesystem::path& path) {
  if (handle_ != kNoHandle) return false;
  // Folders need FILE_FLAG_BACKUP_SEMANTICS to open, so they fail here; pipes,
  // consoles and devices open without waiting and are refused just after.
  const HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  if (!IsRegularFile(handle, info)) {
    ::CloseHandle(handle);
    return false;
  }
  handle_ = FromHandle(handle);
  return true;
}

std::ptrdiff_t InputFile::Read(char* buffer, std::size_t size) {
  DWORD count = 0;
  if (!::ReadFile(ToHandle(handle_), buffer, static_cast<DWORD>(std::min(size, kMaxTransfer)),
                  &count, nullptr)) {
    return -1;
  }
  return static_cast<std::ptrdiff_t>(count);
}

std::ptrdiff_t InputFile::ReadAt(std::uint64_t offset, char* buffer, std::size_t size) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD count = 0;
  // On a handle opened without FILE_FLAG_OVERLAPPED the read is synchronous;
  // it moves the file pointer, so Read's position is restored after it.
  LARGE_INTEGER position{};
  LARGE_INTEGER zero{};
  if (!::SetFilePointerEx(ToHandle(handle_), zero, &position, FILE_CURRENT)) return -1;
  const BOOL ok = ::ReadFile(ToHandle(handle_), buffer,
                             static_cast<DWORD>(std::min(size, kMaxTransfer)), &count, &at);
  const bool at_end = !ok && ::GetLastError() == ERROR_HANDLE_EOF;
  if (!::SetFilePointerEx(ToHandle(handle_), position, nullptr, FILE_BEGIN)) return -1;
  if (!ok) return at_end ? 0 : -1;
  return static_cast<std::ptrdiff_t>(count);
}

namespace {

// True when `path` names a regular file on a disk that this process may
// write and that is not the file `model` reads, or nothing at all; `existing`
// tells which.
bool MayReplace(const NativeString& path, HANDLE model, bool& existing) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    existing = false;
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND;
  }
  existing = true;
  // A read-only file may not be written, even where its folder would let a
  // rename replace it.
  constexpr DWORD kRefused =
      FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY;
  if ((attributes & kRefused) != 0) return false;
  // Opening for writing, without truncating and without following a reparse
  // point, tests the right to write (the read-only attribute included).
  const HANDLE handle = ::CreateFileW(
      path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  BY_HANDLE_FILE_INFORMATION model_info;
  // Replacing another name of the caption file would leave it intact, but a
  // second spelling of the name it was opened by would not.
  const bool ok = IsRegularFile(handle, info) &&
                  (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
                  ::GetFileInformationByHandle(model, &model_info) &&
                  !(info.dwVolumeSerialNumber == model_info.dwVolumeSerialNumber &&
                    info.nFileIndexHigh == model_info.nFileIndexHigh &&
                    info.nFileIndexLow == model_info.nFileIndexLow);
  ::CloseHandle(handle);
  return ok;
}

// A name for a temporary file that no other run picks: 12 random hex digits.
std::wstring TemporaryName() {
  thread_local std::mt19937_64 random(std::random_device{}() ^
                                      (static_cast<std::uint64_t>(::GetCurrentProcessId()) << 32));
  wchar_t name[32];
  std::swprintf(name, std::size(name), L".orvane-%012llx.tmp",
                static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
  return name;
}

}  // namespace

ReplacementFile::~ReplacementFile() {
  if (handle_ != kNoHandle) ::CloseHandle(ToHandle(handle_));
  if (!temporary_.empty()) ::DeleteFileW(temporary_.c_str());
}

bool ReplacementFile::Create(const std::filesystem::path& path, const InputFile& model) {
  if (handle_ != kNoHandle) return false;
  own_folder_.path_ = path.has_parent_path() ? path.parent_path().native() : L".";
  return CreateIn(own_folder_, path.filename().native(), model);
}

bool ReplacementFile::Create(const Folder& folder, const NativeString& name,
                             const InputFile& model) {
  return handle_ == kNoHandle && folder.is_open() && CreateIn(folder, name, model);
}

// On Windows the names are whole paths in the folder's long-path form.
bool ReplacementFile::CreateIn(const Folder& folder, const NativeString& name,
                               const InputFile& model) {
  const NativeString target = JoinPath(folder.path_, name);
  bool existing = false;
  if (!MayReplace(target, ToHandle(model.handle_), existing)) return false;
  for (int attempt = 0; attempt < 100; ++attempt) {
    NativeString temporary = JoinPath(folder.path_, TemporaryName());
    const HANDLE handle =
        ::CreateFileW(temporary.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                      nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      if (::GetLastError() == ERROR_FILE_EXISTS) continue;
      return false;
    }
    handle_ = FromHandle(handle);
    name_ = target;
    temporary_ = std::move(temporary);
    return true;
  }
  return false;
}

bool ReplacementFile::Write(const char* data, std::size_t size) {
  return WriteAll(ToHandle(handle_), data, size);
}

bool ReplacementFile::Commit() {
  if (handle_ == kNoHandle) return false;
  const HANDLE handle = ToHandle(handle_);
  handle_ = kNoHandle;
  // MoveFileExW replaces the name, not what a reparse point there leads to.
  const bool ok = ::CloseHandle(handle) != 0 &&
                  ::MoveFileExW(temporary_.c_str(), name_.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
  if (!ok) ::DeleteFileW(temporary_.c_str());
  temporary_.clear();
  return ok;
}

// A run blocks the window of the Windows program, which sees no end-of-session
// message while it lasts; the console's Ctrl+C ends the process as before.
void RemoveTemporariesOnSignals() {}

bool RemoveStaleTemporary(const Folder& /*folder*/, const NativeString& /*name*/) { return false; }

// The standard handles of a Windows process are never reused by its files.
void GuardStandardStreams() {}

bool StandardOutputWasClosed() { return false; }

std::uint64_t OpenFilesLimit() { return UINT64_MAX; }

std::string ToUtf8(std::wstring_view text) {
  if (text.empty() || text.size() > INT_MAX) return {};
  const int size = static_cast<int>(text.size());
  const int length =
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string bytes(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, bytes.data(), length, nullptr, nullptr);
  return bytes;
}

bool WriteAll(HANDLE handle, const char* data, std::size_t size) {
  while (size > 0) {
    DWORD count = 0;
    if (!::WriteFile(handle, data, static_cast<DWORD>(std::min(size, kMaxTransfer)), &count,
                     nullptr) ||
        count == 0) {
      return false;
    }
    data += count;
    size -= count;
  }
  return true;
}

ScratchFile::~ScratchFile() {
  if (handle_ != kNoHandle) ::CloseHandle(ToHandle(handle_));
}

bool ScratchFile::Append(const char* data, std::size_t size) {
  if (handle_ == kNoHandle) {
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH) return false;
    for (int attempt = 0; attempt < 100 && handle_ == kNoHandle; ++attempt) {
      const std::wstring name = std::wstring(folder) + TemporaryName();
      const HANDLE handle =
          ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                        FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
      if (handle != INVALID_HANDLE_VALUE) {
        handle_ = FromHandle(handle);
      } else if (::GetLastError() != ERROR_FILE_EXISTS) {
        return false;
      }
    }
    if (handle_ == kNoHandle) return false;
    size_ = 0;
  }
  while (size > 0) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(size_);
    at.OffsetHigh = static_cast<DWORD>(size_ >> 32);
    DWORD count = 0;
    if (!::WriteFile(ToHandle(handle_), data, static_cast<DWORD>(std::min(size, kMaxTransfer)),
                     &count, &at) ||
        count == 0) {
      return false;
    }
    data += count;
    size -= count;
    size_ += count;
  }
  return true;
}

std::ptrdiff_t ScratchFile::ReadAt(std::uint64_t offset, char* buffer, std::size_t size) {
  if (handle_ == kNoHandle) return 0;
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD count = 0;
  if (!::ReadFile(ToHandle(handle_), buffer, static_cast<DWORD>(std::min(size, kMaxTransfer)),
                  &count, &at)) {
    return ::GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
  }
  return static_cast<std::ptrdiff_t>(count);
}

bool ScratchFile::Clear() {
  size_ = 0;
  if (handle_ == kNoHandle) return true;
  LARGE_INTEGER zero{};
  return ::SetFilePointerEx(ToHandle(handle_), zero, nullptr, FILE_BEGIN) &&
         ::SetEndOfFile(ToHandle(handle_));
}

std::ptrdiff_t ReadStandardInput(char* buffer, std::size_t size) {
  DWORD count = 0;
  if (!::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), buffer,
                  static_cast<DWORD>(std::min(size, kMaxTransfer)), &count, nullptr)) {
    // The writer of a pipe closing its end is the end of the input.
    return ::GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
  }
  return static_cast<std::ptrdiff_t>(count);
}

bool WriteStandardOutput(const char* data, std::size_t size) {
  return WriteAll(::GetStdHandle(STD_OUTPUT_HANDLE), data, size);
}

bool StandardErrorIsTerminal() {
  DWORD mode;
  return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

int StandardErrorColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

std::string UserLocaleName() {
  wchar_t name[LOCALE_NAME_MAX_LENGTH];
  if (::GetUserDefaultLocaleName(name, LOCALE_NAME_MAX_LENGTH) == 0) return {};
  return ToNarrow(name);
}

unsigned UsableProcessors() {
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  if (::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system) && process != 0) {
    unsigned count = 0;
    for (; process != 0; process &= process - 1) ++count;
    return count;
  }
  return 1;
}

NativeString ResolvePath(const NativeString& path) {
  const DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) return {};
  NativeString full(size, L'\0');
  const DWORD length = ::GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
  if (length == 0 || length >= size) return {};
  full.resize(length);
  return full;
}

}  // namespace orvane::platform
