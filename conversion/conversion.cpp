#include "conversion/conversion.h"

#include <algorithm>
#include <new>
#include <vector>

#include "conversion/caption_filter.h"

namespace orvane {
namespace {

constexpr std::string_view kTitleOpen = "<title>";
constexpr std::string_view kTitleClose = "</title>";

template <class Char>
std::basic_string<Char> ReplaceExtension(std::basic_string_view<Char> path) {
  const auto dot = path.rfind(Char('.'));
  std::basic_string<Char> result(path.substr(0, dot));
  for (const char c : std::string_view(".txt")) result += Char(c);
  return result;
}

}  // namespace

std::string MakeOutputPath(std::string_view path) { return ReplaceExtension(path); }

std::wstring MakeOutputPath(std::wstring_view path) { return ReplaceExtension(path); }

std::string MakeTitleLine(const NativeString& title) {
  std::string line;
  if (title.empty()) return line;
  NativeString with_stop = title;
  with_stop += platform::NativeChar('.');
  for (const char c : platform::ToNarrow(with_stop)) {
    if (c == '\n') line += '\r';
    line += c;
  }
  line += "\r\n";
  return line;
}

namespace {

// The bytes [begin, end) of `file`, or nothing when they cannot all be read.
std::string ReadRange(platform::InputFile& file, std::uint64_t begin, std::uint64_t end) {
  std::string bytes(static_cast<std::size_t>(end - begin), '\0');
  for (std::size_t done = 0; done < bytes.size();) {
    const std::ptrdiff_t count =
        file.ReadAt(begin + done, bytes.data() + done, bytes.size() - done);
    if (count <= 0) return {};
    done += static_cast<std::size_t>(count);
  }
  return bytes;
}

}  // namespace

NativeString ReadCourseTitle(const NativeString& course_folder, std::size_t read_block,
                             std::size_t title_limit) {
  NativeString manifest_path = course_folder;
  manifest_path += platform::PathSeparator();
  manifest_path += platform::FromAscii("imsmanifest.xml");
  platform::InputFile manifest;
  if (!manifest.Open(manifest_path)) return {};

  // The manifest is searched as a stream. Before the title, `window` holds the
  // unsearched tail of the previous block (shorter than either tag) and the
  // current block. Then `title` holds the title's bytes; once they outgrow
  // the limit, only the last few, to find a "</title>" that spans two blocks,
  // and a title that closes after all is read again from the file.
  std::vector<char> block(std::max<std::size_t>(read_block, 1));
  std::string window;
  std::string title;
  std::uint64_t offset = 0;       // of the current block in the file
  std::uint64_t title_begin = 0;  // of the title's first byte
  std::uint64_t dropped = 0;      // title bytes no longer held
  bool in_title = false;
  for (bool at_end = false; !at_end;) {
    const std::ptrdiff_t count = manifest.Read(block.data(), block.size());
    if (count < 0) return {};
    if (count == 0) break;
    std::string_view bytes(block.data(), static_cast<std::size_t>(count));
    const std::uint64_t bytes_offset = offset;
    offset += static_cast<std::uint64_t>(count);
    // The manifest text ends at its first NUL byte.
    if (const auto nul = bytes.find('\0'); nul != bytes.npos) {
      bytes = bytes.substr(0, nul);
      at_end = true;
    }
    if (in_title) {
      const std::size_t from =
          title.size() < kTitleClose.size() ? 0 : title.size() - kTitleClose.size() + 1;
      title.append(bytes);
      if (const auto close = title.find(kTitleClose, from); close != title.npos) {
        if (dropped == 0) return platform::FromNarrow(std::string_view(title).substr(0, close));
        return platform::FromNarrow(
            ReadRange(manifest, title_begin, title_begin + dropped + close));
      }
      if (const std::size_t keep = kTitleClose.size() - 1;
          title.size() > std::max(title_limit, keep)) {
        dropped += title.size() - keep;
        title.erase(0, title.size() - keep);
      }
      continue;
    }
    const std::uint64_t window_offset = bytes_offset - window.size();
    window.append(bytes);
    const auto open = window.find(kTitleOpen);
    const auto close = window.find(kTitleClose);
    // A "</title>" before the first "<title>" leaves the title empty.
    if (close != window.npos && (open == window.npos || close < open)) return {};
    if (open == window.npos) {
      const std::size_t keep = kTitleClose.size() - 1;
      if (window.size() > keep) window.erase(0, window.size() - keep);
      continue;
    }
    if (close != window.npos) {
      return platform::FromNarrow(std::string_view(window).substr(
          open + kTitleOpen.size(), close - open - kTitleOpen.size()));
    }
    in_title = true;
    title = window.substr(open + kTitleOpen.size());
    title_begin = window_offset + open + kTitleOpen.size();
    window.clear();
  }
  return {};
}

ConversionResult ConvertCaptionFile(const std::filesystem::path& input,
                                    const std::filesystem::path& output, NativeString title,
                                    TranscriptStyle style) {
  return CaptionConverter(title, style).Convert(input, output);
}

CaptionConverter::CaptionConverter(const NativeString& title, TranscriptStyle style,
                                   std::size_t read_block, std::size_t line_limit)
    : style_(style),
      line_limit_(line_limit),
      title_line_(style == TranscriptStyle::kClean ? MakeCleanTitleLines(platform::ToNarrow(title))
                                                   : MakeTitleLine(title)),
      block_(std::max<std::size_t>(read_block, 1)),
      filter_(FastestKernel(), line_limit) {}

ConversionResult CaptionConverter::OutOfMemory() {
  // The next file starts afresh, with buffers a normal file needs.
  filter_.Reset();
  clean_.Reset();
  return ConversionResult::kWriteFailed;
}

bool CaptionConverter::Feed(std::string_view bytes) {
  return style_ == TranscriptStyle::kClean ? clean_.Feed(bytes) : filter_.Feed(bytes);
}

void CaptionConverter::Finish() {
  if (style_ == TranscriptStyle::kClean) {
    clean_.Finish();
  } else {
    filter_.Finish();
  }
}

ConversionResult CaptionConverter::Convert(const std::filesystem::path& input,
                                           const std::filesystem::path& output) {
  try {
    return ConvertOrThrow(input, output);
  } catch (const std::bad_alloc&) {
    // The new transcript is removed with its ReplacementFile.
    return OutOfMemory();
  }
}

namespace {

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

class FileSink : public TranscriptSink {
 public:
  explicit FileSink(platform::ReplacementFile& file) : file_(file) {}
  bool Write(const char* data, std::size_t size) override { return file_.Write(data, size); }

 private:
  platform::ReplacementFile& file_;
};

}  // namespace

ConversionResult CaptionConverter::ConvertOrThrow(const std::filesystem::path& input,
                                                  const std::filesystem::path& output) {
  platform::InputFile captions;
  if (!captions.Open(input)) return ConversionResult::kOpenFailed;
  platform::ReplacementFile transcript;
  if (!transcript.Create(output, captions)) return ConversionResult::kOpenFailed;
  FileSource source(captions);
  FileSink sink(transcript);
  if (const ConversionResult result = Filter(source, sink);
      result != ConversionResult::kConverted) {
    return result;
  }
  return transcript.Commit() ? ConversionResult::kConverted : ConversionResult::kWriteFailed;
}

ConversionResult CaptionConverter::ConvertStream(CaptionSource& stream,
                                                 TranscriptSink& transcript) {
  try {
    // Only the default style reads long lines a second time.
    if (style_ == TranscriptStyle::kClean) return Filter(stream, transcript);
    RereadableSource source(stream, line_limit_);
    return Filter(source, transcript);
  } catch (const std::bad_alloc&) {
    return OutOfMemory();
  }
}

ConversionResult CaptionConverter::Filter(CaptionSource& captions, TranscriptSink& transcript) {
  if (!transcript.Write(title_line_.data(), title_line_.size())) {
    return ConversionResult::kWriteFailed;
  }
  filter_.Reset();
  clean_.Reset();
  for (bool more = true; more;) {
    const std::ptrdiff_t count = captions.Read(block_.data(), block_.size());
    if (count < 0) return ConversionResult::kOpenFailed;
    if (count == 0) break;
    if (bytes_read_ != nullptr) {
      bytes_read_->fetch_add(static_cast<std::uint64_t>(count), std::memory_order_relaxed);
    }
    more = Feed(std::string_view(block_.data(), static_cast<std::size_t>(count)));
    // Written after every piece, so that the filter holds one piece's output.
    if (const ConversionResult result = WriteOutput(captions, transcript);
        result != ConversionResult::kConverted) {
      return result;
    }
  }
  Finish();
  return WriteOutput(captions, transcript);
}

ConversionResult CaptionConverter::WriteOutput(CaptionSource& captions,
                                               TranscriptSink& transcript) {
  if (style_ == TranscriptStyle::kClean) {
    std::string& clean = clean_.output();
    const bool written = transcript.Write(clean.data(), clean.size());
    clean.clear();
    return written ? ConversionResult::kConverted : ConversionResult::kWriteFailed;
  }
  const std::string& out = filter_.output();
  std::size_t from = 0;
  for (const CaptionFilter::LongLine& line : filter_.long_lines()) {
    if (!transcript.Write(out.data() + from, line.at - from)) {
      return ConversionResult::kWriteFailed;
    }
    from = line.at;
    if (const ConversionResult result = WriteLongLine(captions, line, transcript);
        result != ConversionResult::kConverted) {
      return result;
    }
  }
  const bool written = transcript.Write(out.data() + from, out.size() - from);
  filter_.ClearOutput();
  return written ? ConversionResult::kConverted : ConversionResult::kWriteFailed;
}

ConversionResult CaptionConverter::WriteLongLine(CaptionSource& captions,
                                                 const CaptionFilter::LongLine& line,
                                                 TranscriptSink& transcript) {
  // The line is read again from the caption file, a block at a time, and
  // written without its tags as it goes.
  bool any_text = false;
  for (std::uint64_t at = line.begin; at < line.end;) {
    const auto size =
        static_cast<std::size_t>(std::min<std::uint64_t>(block_.size(), line.end - at));
    const std::ptrdiff_t count = captions.ReadAt(at, block_.data(), size);
    if (count <= 0) return ConversionResult::kOpenFailed;  // changed or failed under us
    at += static_cast<std::uint64_t>(count);
    long_text_.clear();
    tags_.Feed(std::string_view(block_.data(), static_cast<std::size_t>(count)), long_text_);
    any_text = any_text || !long_text_.empty();
    if (!transcript.Write(long_text_.data(), long_text_.size())) {
      return ConversionResult::kWriteFailed;
    }
  }
  long_text_.clear();
  tags_.Finish(long_text_);
  any_text = any_text || !long_text_.empty();
  if (any_text) long_text_.append("\r\n");
  return transcript.Write(long_text_.data(), long_text_.size()) ? ConversionResult::kConverted
                                                                : ConversionResult::kWriteFailed;
}

RereadableSource::RereadableSource(CaptionSource& stream, std::size_t hold_limit)
    : stream_(stream), hold_limit_(hold_limit) {}

std::ptrdiff_t RereadableSource::Read(char* buffer, std::size_t size) {
  // What the caller may still ask for again starts at its unfinished line.
  if (!DropBefore(keep_from_)) return -1;
  const std::ptrdiff_t count = stream_.Read(buffer, size);
  if (count <= 0) return count;
  const auto length = static_cast<std::size_t>(count);
  if (!Hold(buffer, length)) return -1;
  const std::string_view bytes(buffer, length);
  if (const auto lf = bytes.rfind('\n'); lf != bytes.npos) keep_from_ = end_ + lf + 1;
  end_ += length;
  return count;
}

std::ptrdiff_t RereadableSource::ReadAt(std::uint64_t offset, char* buffer, std::size_t size) {
  if (offset < begin_ || offset > end_) return -1;
  const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(size, end_ - offset));
  if (spilled_) return spill_.ReadAt(offset - begin_, buffer, count);
  std::copy_n(held_.data() + (offset - begin_), count, buffer);
  return static_cast<std::ptrdiff_t>(count);
}

bool RereadableSource::DropBefore(std::uint64_t offset) {
  if (offset <= begin_) return true;
  const auto dropped = static_cast<std::size_t>(offset - begin_);
  begin_ = offset;
  if (!spilled_) {
    held_.erase(0, dropped);
    return true;
  }
  // The kept tail came with the last Read: it is short enough to hold again.
  std::string tail(static_cast<std::size_t>(end_ - offset), '\0');
  for (std::size_t done = 0; done < tail.size();) {
    const std::ptrdiff_t count =
        spill_.ReadAt(dropped + done, tail.data() + done, tail.size() - done);
    if (count <= 0) return false;
    done += static_cast<std::size_t>(count);
  }
  spilled_ = false;
  held_ = std::move(tail);
  return spill_.Clear();
}

bool RereadableSource::Hold(const char* data, std::size_t size) {
  if (!spilled_ && held_.size() + size <= hold_limit_) {
    held_.append(data, size);
    return true;
  }
  if (!spilled_) {
    if (!spill_.Append(held_.data(), held_.size())) return false;
    spilled_ = true;
    held_.clear();
    held_.shrink_to_fit();
  }
  return spill_.Append(data, size);
}

}  // namespace orvane
