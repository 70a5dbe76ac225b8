// Platform services used by the conversion core and the front ends: path
// editing, text conversion, directory listing and file access. Exactly one
// implementation file per operating system is compiled (see CMakeLists.txt).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace orvane::platform {

// Text of paths, directory entries, the course title and messages: UTF-16 on
// Windows, the bytes themselves on POSIX.
using NativeString = std::filesystem::path::string_type;
using NativeChar = NativeString::value_type;
using NativeStringView = std::basic_string_view<NativeChar>;

// Returns `ascii`, which holds 7-bit characters only, as native text.
inline NativeString FromAscii(std::string_view ascii) {
  return NativeString(ascii.begin(), ascii.end());
}

// The separator inserted when a folder path and a name are joined.
NativeChar PathSeparator();

// Removes the last component of `path` and the separator before it, in place.
// A root keeps its separator and a root alone stays unchanged.
void RemoveLastComponent(NativeString& path);

// Returns the last component of `path`; for a root, the whole root.
NativeString LastComponent(const NativeString& path);

// Decodes text in the narrow code page. On POSIX the code page is the bytes
// themselves, so FromNarrow and ToNarrow are exact inverses.
NativeString FromNarrow(std::string_view narrow);

// Encodes text in the narrow code page; on Windows characters it cannot
// represent become its default character.
std::string ToNarrow(NativeStringView text);

// The identity of a file or folder: on POSIX its device and inode, on
// Windows its volume serial number and file index.
struct FileId {
  std::uint64_t device = 0;
  std::uint64_t file = 0;
  friend bool operator==(const FileId&, const FileId&) = default;
};

// An open folder. The files of a run are listed, opened, created, renamed and
// removed relative to it, so that its path coming to name another folder
// while the run goes on (it, or a folder above it, replaced by a link, say)
// changes nothing of where they go. Move-only; the destructor closes it.
class Folder {
 public:
  Folder() = default;
  ~Folder();
  Folder(Folder&& other) noexcept;
  Folder& operator=(Folder&& other) noexcept;

  // Opens the folder that `path` names, following links in it, as a user
  // who names a folder expects. False when it is no folder or cannot be opened.
  bool Open(const NativeString& path);
  // Opens the sub-folder `name` of `parent` without following a link, only
  // when it is the folder `expected` (as listed). False otherwise.
  bool OpenChild(const Folder& parent, const NativeString& name, const FileId& expected);
  // Opens the folder above `child` only when it is the folder `expected`.
  bool OpenParent(const Folder& child, const FileId& expected);
  bool is_open() const { return handle_ != -1; }
  // The folder's identity; all zero when it cannot be had.
  FileId id() const;

 private:
  friend class DirectoryListing;
  friend class InputFile;
  friend class ReplacementFile;
  friend bool RemoveStaleTemporary(const Folder& folder, const NativeString& name);
  void Close();
  std::intptr_t handle_ = -1;
  NativeString path_;  // Windows only: the long-path form the system calls take
};

// Lists the entries of one folder for a caption search. On Windows these are
// the entries that the "*.vtt" wildcard matches, which also matches through
// short 8.3 aliases; on POSIX every entry, "." and ".." included. Either way
// the caller checks each name's extension itself.
class DirectoryListing {
 public:
  enum class Scope {
    kCaptions,    // the entries that may be caption files (see above)
    kEverything,  // every entry, sub-folders and links included, for a walk of a tree
  };
  // Starts listing `folder`, which must stay open while it is listed. ok() is
  // false when it cannot be listed or there is no entry to list.
  explicit DirectoryListing(const Folder& folder, Scope scope = Scope::kCaptions);
  // Starts listing the folder at `path`, as Folder::Open opens it.
  explicit DirectoryListing(const NativeString& path, Scope scope = Scope::kCaptions);
  ~DirectoryListing();
  DirectoryListing(const DirectoryListing&) = delete;
  DirectoryListing& operator=(const DirectoryListing&) = delete;

  // True while there is a current entry.
  bool ok() const;
  // Name of the current entry, without its folder.
  const NativeString& name() const;
  // True when the current entry is a folder or a link to one.
  bool is_directory() const;
  // True when the current entry is a symbolic link (on Windows, any reparse
  // point), whatever it leads to.
  bool is_link() const;
  // The identity of the current entry when it is a folder and no link, for
  // Folder::OpenChild; all zero otherwise.
  FileId folder_id() const;
  // The size in bytes of the current entry when it is a regular file; 0 for
  // anything else, or when the size cannot be had. On POSIX a link counts as
  // what it leads to, and each call costs a stat of the entry relative to the
  // open folder; on Windows the listing holds the sizes, and a link counts 0.
  std::uint64_t size() const;
  // Moves to the next entry; returns false (and ok() becomes false) at the
  // end of the listing or when reading it failed.
  bool Next();
  // True when the listing ended because the folder could not be opened or
  // reading it failed, not because every entry was listed.
  bool failed() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// An open file to read, released by the destructor.
class InputFile {
 public:
  InputFile() = default;
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Opens the existing regular file `name` of `folder` for reading. FIFOs,
  // sockets, devices and folders are refused without blocking. When the
  // process runs as root on POSIX, a symbolic link is followed only when the
  // link and the file it leads to have the same owner, so that nobody reads
  // through root what only root may read. Returns false on any failure.
  bool Open(const Folder& folder, const NativeString& name);
  // Opens the file at `path` as above, relative to the folder that holds it.
  bool Open(const std::filesystem::path& path);
  // Reads up to `size` bytes. Returns the count, 0 at end of file, -1 on error.
  std::ptrdiff_t Read(char* buffer, std::size_t size);
  // Reads up to `size` bytes from byte `offset` of the file, leaving the
  // position of Read where it was. Returns as Read does.
  std::ptrdiff_t ReadAt(std::uint64_t offset, char* buffer, std::size_t size);

 private:
  friend class ReplacementFile;
  std::intptr_t handle_ = -1;
};

// A new version of a file, written under a temporary name in the same folder
// and put in place by Commit in one step (a rename), so that the path holds
// either the old file or all of the new one, and a link at the path is never
// followed. The temporary name is hidden on POSIX (".orvane-….tmp") and
// created exclusively, so it clashes with nothing; until it is renamed or
// removed, RemoveTemporariesOnSignals's handler removes it too.
class ReplacementFile {
 public:
  ReplacementFile() = default;
  // Removes the temporary file unless Commit put it in place.
  ~ReplacementFile();
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  // Starts a new version of the file `name` of `folder`, which must stay open
  // until Commit or the destructor. Refuses, creating nothing, when `name` is
  // a link (on Windows any reparse point), a folder, a FIFO, a socket or a
  // device, the file `model` reads, or a file that this process may not
  // write. On POSIX a new file gets the read bits of `model` and its owner's
  // write bit, within the umask; a replaced file keeps its owner and mode
  // less the read bits `model` does not grant. Where no temporary file may be
  // made in the folder but the file there may be written, it is written in
  // place: a failure then can leave it partly written.
  bool Create(const Folder& folder, const NativeString& name, const InputFile& model);
  // Starts a new version of the file at `path` as above.
  bool Create(const std::filesystem::path& path, const InputFile& model);
  // Writes all `size` bytes. Returns false on any error (a full disk, a
  // file-size limit).
  bool Write(const char* data, std::size_t size);
  // Closes the new file and renames it over the path. Returns false when
  // either step failed; the temporary file is then removed and the path left
  // as it was. Nothing is flushed to the disk before the rename.
  bool Commit();

 private:
  bool CreateIn(const Folder& folder, const NativeString& name, const InputFile& model);
  std::intptr_t handle_ = -1;
  Folder own_folder_;               // for Create(path)
  const Folder* folder_ = nullptr;  // while a new file is written
  NativeString name_;
  NativeString temporary_;  // empty once renamed or removed, or when written in place
  int slot_ = -1;           // in the table the signal handler reads
};

// Installs handlers of SIGINT, SIGTERM and SIGHUP (unless ignored) that
// remove the temporary files of every ReplacementFile not yet committed, then
// end the process by the signal as it would have ended. Nothing on Windows.
void RemoveTemporariesOnSignals();

// When `name` in `folder` is a temporary file of an earlier run that ended
// before it could remove it (owned by this user and untouched for an hour),
// removes it. Returns true when `name` is shaped like a temporary file's
// name, whether or not it was removed.
bool RemoveStaleTemporary(const Folder& folder, const NativeString& name);

// Opens /dev/null on every one of the descriptors 0, 1 and 2 that is closed,
// so that no file the process opens later takes its number. Call it before
// anything else is opened. Nothing on Windows.
void GuardStandardStreams();
// True when standard output was closed when GuardStandardStreams ran.
bool StandardOutputWasClosed();

// An anonymous temporary file, for bytes that must be read again but are too
// many to hold in memory. Created on the first Append in the system's
// temporary folder and removed by the system when closed, even after a crash.
class ScratchFile {
 public:
  ScratchFile() = default;
  ~ScratchFile();
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  // Adds `size` bytes at the end. Returns false on any error.
  bool Append(const char* data, std::size_t size);
  // Reads up to `size` bytes from byte `offset`; returns as InputFile::Read does.
  std::ptrdiff_t ReadAt(std::uint64_t offset, char* buffer, std::size_t size);
  // Empties the file. Returns false on any error.
  bool Clear();
  // Bytes appended since it was created or cleared.
  std::uint64_t size() const { return size_; }

 private:
  std::intptr_t handle_ = -1;
  std::uint64_t size_ = 0;
};

// Reads up to `size` bytes of standard input as bytes. Returns the count, 0 at
// its end, -1 on error.
std::ptrdiff_t ReadStandardInput(char* buffer, std::size_t size);
// Writes all `size` bytes to standard output as bytes, unbuffered. Returns
// false on any error (a closed pipe, a full disk).
bool WriteStandardOutput(const char* data, std::size_t size);

// True when standard error is a terminal (on Windows, a console).
bool StandardErrorIsTerminal();
// The width in columns of the terminal on standard error, or 0 when unknown.
int StandardErrorColumns();

// The number of processors this process may run on (at least 1).
unsigned UsableProcessors();

// The user's locale for messages, as the system names it: on POSIX the first
// of LC_ALL, LC_MESSAGES and LANG that is set and not empty ("fr_CA.UTF-8"),
// on Windows the user's default locale name ("fr-CA"); "" when none.
std::string UserLocaleName();

// The number of files this process may hold open at once (on POSIX the soft
// RLIMIT_NOFILE); the largest value when there is no such limit.
std::uint64_t OpenFilesLimit();

// Returns `path` made absolute as the system resolves it: on POSIX with every
// link and ".." resolved physically (as `cd PATH && pwd -P` does), on Windows
// by the lexical rules of its path names. Returns the empty string when the
// path cannot be resolved (it does not exist, say).
NativeString ResolvePath(const NativeString& path);

}  // namespace orvane::platform
