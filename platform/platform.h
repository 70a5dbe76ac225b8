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
  // Starts listing `folder`. ok() is false when it cannot be listed or there
  // is no entry to list.
  explicit DirectoryListing(const NativeString& folder);
  ~DirectoryListing();
  DirectoryListing(const DirectoryListing&) = delete;
  DirectoryListing& operator=(const DirectoryListing&) = delete;

  // True while there is a current entry.
  bool ok() const;
  // Name of the current entry, without its folder.
  const NativeString& name() const;
  // True when the current entry is a folder or a link to one.
  bool is_directory() const;
  // Moves to the next entry; returns false (and ok() becomes false) at the
  // end of the listing or when reading it failed.
  bool Next();
  // True when the listing ended because reading the folder failed (after it
  // was opened), not because every entry was listed.
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

 private:
  friend class OutputFile;
  std::intptr_t handle_ = -1;
};

// A file being written, created or truncated by Create.
class OutputFile {
 public:
  OutputFile() = default;
  // Closes the file if Close was not called; errors are then lost.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates `path`, or truncates it to empty, for writing. Refuses without
  // changing anything when `path` is the very file that `source` reads (a
  // link or a second name of it). Never blocks on a FIFO without a reader.
  bool Create(const std::filesystem::path& path, const InputFile& source);
  // Writes all `size` bytes. Returns false on any error.
  bool Write(const char* data, std::size_t size);
  // Closes the file; nothing is buffered, so there is nothing to flush.
  // Returns false when closing failed (on some file systems a write error
  // shows only then), or when the file was not open.
  bool Close();

 private:
  std::intptr_t handle_ = -1;
};

}  // namespace orvane::platform
