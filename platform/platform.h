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
  // Starts listing `folder`. ok() is false when it cannot be listed or there
  // is no entry to list.
  explicit DirectoryListing(const NativeString& folder, Scope scope = Scope::kCaptions);
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

  // Opens an existing regular file for reading. FIFOs, sockets, devices and
  // folders are refused without blocking. Returns false on any failure.
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
// created exclusively, so it clashes with nothing.
class ReplacementFile {
 public:
  ReplacementFile() = default;
  // Removes the temporary file unless Commit put it in place.
  ~ReplacementFile();
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  // Starts a new version of `path`. Refuses, creating nothing, when `path` is
  // a link (on Windows any reparse point), a folder, a FIFO, a socket or a
  // device, or a file that this process may not write. On POSIX the new file
  // keeps the permission bits of the file it replaces; a file new at `path`
  // gets the read and write bits of `model`, within the umask.
  bool Create(const std::filesystem::path& path, const InputFile& model);
  // Writes all `size` bytes. Returns false on any error (a full disk, a
  // file-size limit).
  bool Write(const char* data, std::size_t size);
  // Closes the new file and renames it over the path. Returns false when
  // either step failed; the temporary file is then removed and the path left
  // as it was. Nothing is flushed to the disk before the rename.
  bool Commit();

 private:
  std::intptr_t handle_ = -1;
  std::filesystem::path path_;
  std::filesystem::path temporary_;  // empty once renamed or removed
};

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

// Returns `path` made absolute as the system resolves it: on POSIX with every
// link and ".." resolved physically (as `cd PATH && pwd -P` does), on Windows
// by the lexical rules of its path names. Returns the empty string when the
// path cannot be resolved (it does not exist, say).
NativeString ResolvePath(const NativeString& path);

}  // namespace orvane::platform
