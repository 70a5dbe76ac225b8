// Where a conversion reads caption bytes and writes transcript bytes, and the
// one way a line is read again by its offsets: ReadRange. The converter's long
// lines, the clean style's long cue lines, the spill of a stream that cannot be
// read twice and the manifest's long title all go through it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "conversion/line_reader.h"
#include "platform/platform.h"

namespace orvane {

// Caption files and manifests are read in blocks of this many bytes unless a
// caller (a test, to split lines and tags across blocks) asks for others.
inline constexpr std::size_t kDefaultReadBlock = 256 * 1024;
// A caption line, or a course title, longer than this is not held in memory:
// it is read a second time where its bytes are needed.
inline constexpr std::size_t kDefaultLineLimit = 4 << 20;

// Where a conversion reads the caption bytes: in order with Read, and, for a
// line too long to hold, again by offset with ReadAt. Both return the count,
// 0 at the end, -1 on error.
class CaptionSource {
 public:
  virtual ~CaptionSource() = default;
  virtual std::ptrdiff_t Read(char* buffer, std::size_t size) = 0;
  virtual std::ptrdiff_t ReadAt(std::uint64_t offset, char* buffer, std::size_t size) = 0;
  // Tells the source that no byte before `offset` will be asked for again.
  virtual void KeepFrom(std::uint64_t /*offset*/) {}
};

// Where a conversion writes the transcript. Write returns false on any error.
class TranscriptSink {
 public:
  virtual ~TranscriptSink() = default;
  virtual bool Write(const char* data, std::size_t size) = 0;
};

// A transcript collected in memory.
class StringSink : public TranscriptSink {
 public:
  bool Write(const char* data, std::size_t size) override {
    text.append(data, size);
    return true;
  }
  std::string text;
};

// Reads the bytes `range` of `source` (anything with CaptionSource's ReadAt)
// again, `buffer` at a time, handing each piece to `take` in order. Returns
// false when they cannot all be read (the file changed or failed under us).
template <class Source, class Take>
bool ReadRange(Source& source, SourceRange range, std::span<char> buffer, Take&& take) {
  for (std::uint64_t at = range.begin; at < range.end;) {
    const auto size =
        static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), range.end - at));
    const std::ptrdiff_t count = source.ReadAt(at, buffer.data(), size);
    if (count <= 0) return false;
    at += static_cast<std::uint64_t>(count);
    take(std::string_view(buffer.data(), static_cast<std::size_t>(count)));
  }
  return true;
}

// Caption bytes held in memory.
class MemorySource : public CaptionSource {
 public:
  explicit MemorySource(std::string_view bytes) : bytes_(bytes) {}
  std::ptrdiff_t Read(char* buffer, std::size_t size) override;
  std::ptrdiff_t ReadAt(std::uint64_t offset, char* buffer, std::size_t size) override;

 private:
  std::string_view bytes_;
  std::size_t read_ = 0;
};

// A caption file.
class FileSource : public CaptionSource {
 public:
  explicit FileSource(platform::InputFile& file) : file_(file) {}
  std::ptrdiff_t Read(char* buffer, std::size_t size) override { return file_.Read(buffer, size); }
  std::ptrdiff_t ReadAt(std::uint64_t offset, char* buffer, std::size_t size) override {
    return file_.ReadAt(offset, buffer, size);
  }

 private:
  platform::InputFile& file_;
};

// A caption file read again from its start, by offset, wherever its read
// position stands.
class FileFromStartSource : public CaptionSource {
 public:
  explicit FileFromStartSource(platform::InputFile& file) : file_(file) {}
  std::ptrdiff_t Read(char* buffer, std::size_t size) override {
    const std::ptrdiff_t count = file_.ReadAt(offset_, buffer, size);
    if (count > 0) offset_ += static_cast<std::uint64_t>(count);
    return count;
  }
  std::ptrdiff_t ReadAt(std::uint64_t offset, char* buffer, std::size_t size) override {
    return file_.ReadAt(offset, buffer, size);
  }

 private:
  platform::InputFile& file_;
  std::uint64_t offset_ = 0;
};

// A transcript file.
class FileSink : public TranscriptSink {
 public:
  explicit FileSink(platform::ReplacementFile& file) : file_(file) {}
  bool Write(const char* data, std::size_t size) override { return file_.Write(data, size); }

 private:
  platform::ReplacementFile& file_;
};

// A CaptionSource over a stream that can be read only once, such as a pipe:
// ReadAt serves the bytes from the offset given to KeepFrom up to the last
// byte read. They are held in memory up to `hold_limit` bytes, and beyond that
// in a ScratchFile, so memory stays bounded whatever the lines' lengths.
class RereadableSource : public CaptionSource {
 public:
  // Reads from `stream`, which must outlive this object and whose own ReadAt
  // is never called.
  explicit RereadableSource(CaptionSource& stream, std::size_t hold_limit = kDefaultLineLimit);
  std::ptrdiff_t Read(char* buffer, std::size_t size) override;
  // Fails (-1) for bytes before those kept or after the last read.
  std::ptrdiff_t ReadAt(std::uint64_t offset, char* buffer, std::size_t size) override;
  void KeepFrom(std::uint64_t offset) override { keep_from_ = std::max(keep_from_, offset); }

 private:
  // Drops the held bytes before `offset`; false when the scratch file failed.
  bool DropBefore(std::uint64_t offset);
  bool Hold(const char* data, std::size_t size);

  CaptionSource& stream_;
  std::size_t hold_limit_;
  std::uint64_t begin_ = 0;      // offset of the first held byte
  std::uint64_t end_ = 0;        // bytes read so far
  std::uint64_t keep_from_ = 0;  // bytes before this may be dropped
  std::string held_;             // [begin_, end_) while not spilled
  platform::ScratchFile spill_;  // [begin_, end_) once spilled
  bool spilled_ = false;
};

// True when `bytes` start with a UTF-16 byte order mark (FF FE, or FE FF for
// big-endian, as `big_endian` then tells).
bool IsUtf16Mark(std::string_view bytes, bool& big_endian);

// The UTF-8 text of UTF-16 caption bytes read once from `stream`, after their
// byte order mark: each unpaired surrogate, and a last odd byte, becomes
// U+FFFD. It can be read only once (ReadAt fails), so a converter reads it
// through a RereadableSource.
class Utf16Source : public CaptionSource {
 public:
  // `stream` is read from just after the mark.
  Utf16Source(CaptionSource& stream, bool big_endian) : stream_(stream), big_endian_(big_endian) {}
  std::ptrdiff_t Read(char* buffer, std::size_t size) override;
  std::ptrdiff_t ReadAt(std::uint64_t, char*, std::size_t) override { return -1; }

 private:
  // Decodes the raw bytes held, keeping an odd last byte for the next read.
  void Decode();

  CaptionSource& stream_;
  bool big_endian_;
  std::string raw_;      // read, not yet decoded
  std::string decoded_;  // decoded, from `handed_` not yet handed out
  std::size_t handed_ = 0;
  std::uint32_t high_ = 0;  // a high surrogate waiting for its low half
  bool ended_ = false;
};

}  // namespace orvane
