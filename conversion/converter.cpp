#include "conversion/converter.h"

#include <algorithm>
#include <new>
#include <utility>

#include "conversion/course_title.h"
#include "conversion/naming.h"

namespace orvane {
namespace {

// Long lines are read again this many bytes at a time: as many as a read
// takes the first time, so that a long line costs no more calls the second.
constexpr std::size_t kRereadBlock = kDefaultReadBlock;

// A failed read of the caption file or manifest is an open failure to the user.
ConversionResult ResultOf(OutputResult output) {
  switch (output) {
    case OutputResult::kWritten:
      return ConversionResult::kConverted;
    case OutputResult::kReadFailed:
      return ConversionResult::kOpenFailed;
    case OutputResult::kWriteFailed:
      break;
  }
  return ConversionResult::kWriteFailed;
}

}  // namespace

ConversionResult ConvertCaptionFile(const std::filesystem::path& input,
                                    const std::filesystem::path& output, NativeString title,
                                    TranscriptStyle style) {
  return CaptionConverter(title, style).Convert(input, output);
}

CaptionConverter::CaptionConverter(const NativeString& title, TranscriptStyle style,
                                   std::size_t read_block, std::size_t line_limit)
    : line_limit_(line_limit),
      style_(style),
      title_line_(IsClean(style) ? MakeCleanTitleLines(platform::ToNarrow(title))
                                 : MakeTitleLine(title)),
      block_(std::max<std::size_t>(read_block, 1)),
      reread_(kRereadBlock),
      transcriber_(MakeTranscriber(style, line_limit)),
      active_(transcriber_.get()),
      title_text_(platform::ToNarrow(title)) {}

CaptionConverter::CaptionConverter(const CourseTitle& title, TranscriptStyle style)
    : CaptionConverter(title.text, style) {
  if (!title.held()) long_title_ = title;
}

void CaptionConverter::WritePages(bool timed, std::string language) {
  page_transcriber_ = MakePageTranscriber(timed, line_limit_);
  timed_pages_ = timed;
  page_.language = std::move(language);
  // A title too long to hold heads the transcript, not the page.
  page_.title = long_title_.held() ? CleanTitleText(title_text_) : std::string();
  page_transcriber_->SetPage(&page_);
}

ConversionResult CaptionConverter::WriteTitle(TranscriptSink& transcript) {
  if (long_title_.held()) {
    return transcript.Write(title_line_.data(), title_line_.size())
               ? ConversionResult::kConverted
               : ConversionResult::kWriteFailed;
  }
  return ResultOf(WriteTitleLines(long_title_, style_, reread_, transcript));
}

ConversionResult CaptionConverter::OutOfMemory() {
  active_ = transcriber_.get();
  page_sink_ = nullptr;
  transcriber_->AlsoWritePage(nullptr, false);
  transcriber_->Reset();
  if (page_transcriber_ != nullptr) page_transcriber_->Reset();
  return ConversionResult::kWriteFailed;
}

ConversionResult CaptionConverter::Convert(const std::filesystem::path& input,
                                           const std::filesystem::path& output) {
  try {
    platform::InputFile captions;
    if (!captions.Open(input)) return ConversionResult::kOpenFailed;
    format_ = FormatOf(input.native());
    return ConvertFile(captions, nullptr, output);
  } catch (const std::bad_alloc&) {
    // The new transcript is removed with its ReplacementFile.
    return OutOfMemory();
  }
}

ConversionResult CaptionConverter::Convert(const platform::Folder& folder,
                                           const NativeString& input, const NativeString& output) {
  try {
    platform::InputFile captions;
    if (!captions.Open(folder, input)) return ConversionResult::kOpenFailed;
    format_ = FormatOf(input);
    return ConvertFile(captions, &folder, output);
  } catch (const std::bad_alloc&) {
    return OutOfMemory();
  }
}

ConversionResult CaptionConverter::ConvertFile(platform::InputFile& captions,
                                               const platform::Folder* folder,
                                               const std::filesystem::path& output) {
  platform::ReplacementFile transcript;
  const bool created = folder != nullptr ? transcript.Create(*folder, output.native(), captions)
                                         : transcript.Create(output, captions);
  if (!created) return ConversionResult::kOpenFailed;
  platform::ReplacementFile page;
  FileSink page_sink(page);
  const bool paged = StartPage(page, captions, folder, output);
  if (paged) page_sink_ = &page_sink;
  FileSource source(captions);
  FileSink sink(transcript);
  const ConversionResult result = Transcribe(source, sink);
  page_sink_ = nullptr;
  if (result != ConversionResult::kConverted) return result;
  if (!transcript.Commit()) return ConversionResult::kWriteFailed;
  // A page that failed as it was written is left uncommitted: the old one stays.
  if (paged && page_result_ == ConversionResult::kConverted && !page.Commit()) {
    page_result_ = ConversionResult::kWriteFailed;
  }
  return page_result_;
}

// The page is written from the same reading as the transcript, into a file
// of its own, created after the transcript's: its failure to be created or
// written leaves the transcript be.
bool CaptionConverter::StartPage(platform::ReplacementFile& page, platform::InputFile& captions,
                                 const platform::Folder* folder,
                                 const std::filesystem::path& output) {
  page_sink_ = nullptr;
  page_result_ = ConversionResult::kConverted;
  if (page_transcriber_ == nullptr) {
    transcriber_->AlsoWritePage(nullptr, false);
    return false;
  }
  // NAME.txt gives NAME.html, whatever NAME is (".txt" too, of ".vtt").
  NativeString page_name = output.filename().native();
  page_name.resize(page_name.size() - std::min<std::size_t>(page_name.size(), 4));
  std::filesystem::path page_path = output;
  page_path.replace_filename(page_name + platform::FromAscii(".html"));
  const bool created = folder != nullptr ? page.Create(*folder, page_path.native(), captions)
                                         : page.Create(page_path, captions);
  if (!created) {
    page_result_ = ConversionResult::kOpenFailed;
    transcriber_->AlsoWritePage(nullptr, false);
    return false;
  }
  page_.name = platform::ToNarrow(page_name);
  transcriber_->AlsoWritePage(&page_, timed_pages_);
  return true;
}

ConversionResult CaptionConverter::ConvertStream(CaptionSource& stream,
                                                 TranscriptSink& transcript) {
  try {
    RereadableSource source(stream, line_limit_);
    format_ = stream_format_;
    if (page_transcriber_ == nullptr) return Transcribe(source, transcript);
    page_.name.clear();
    active_ = page_transcriber_.get();
    const ConversionResult result = Transcribe(source, transcript);
    active_ = transcriber_.get();
    return result;
  } catch (const std::bad_alloc&) {
    return OutOfMemory();
  }
}

ConversionResult CaptionConverter::ConvertBytes(std::string_view captions,
                                                TranscriptSink& transcript) {
  try {
    MemorySource source(captions);
    format_ = stream_format_;
    return Transcribe(source, transcript);
  } catch (const std::bad_alloc&) {
    return OutOfMemory();
  }
}

ConversionResult CaptionConverter::ConvertToSink(const std::filesystem::path& input,
                                                 TranscriptSink& transcript) {
  try {
    platform::InputFile captions;
    if (!captions.Open(input)) return ConversionResult::kOpenFailed;
    format_ = FormatOf(input.native());
    FileSource source(captions);
    return Transcribe(source, transcript);
  } catch (const std::bad_alloc&) {
    return OutOfMemory();
  }
}

CaptionFormat CaptionConverter::FormatOf(const NativeString& name) const {
  return file_format_.value_or(CaptionFormatOfName(name).value_or(CaptionFormat::kWebVtt));
}

ConversionResult CaptionConverter::Transcribe(CaptionSource& captions, TranscriptSink& transcript) {
  // A page has its title in its head.
  if (active_ == transcriber_.get()) {
    if (const ConversionResult result = WriteTitle(transcript);
        result != ConversionResult::kConverted) {
      return result;
    }
  }
  active_->SetFormat(format_);
  active_->Reset();
  if (!IsClean(style_)) return Feed(captions, {}, transcript);
  // A clean transcript reads a UTF-16 file as its UTF-8 text: the first two
  // bytes tell, before anything else is read.
  char head[2];
  std::size_t have = 0;
  while (have < sizeof head) {
    const std::ptrdiff_t count = captions.Read(head + have, sizeof head - have);
    if (count < 0) return ConversionResult::kOpenFailed;
    if (count == 0) break;
    have += static_cast<std::size_t>(count);
  }
  const std::string_view first(head, have);
  bool big_endian = false;
  if (!IsUtf16Mark(first, big_endian)) return Feed(captions, first, transcript);
  if (bytes_read_ != nullptr) bytes_read_->fetch_add(have, std::memory_order_relaxed);
  Utf16Source decoded(captions, big_endian);
  RereadableSource text(decoded, line_limit_);
  return Feed(text, {}, transcript);
}

ConversionResult CaptionConverter::Feed(CaptionSource& captions, std::string_view first,
                                        TranscriptSink& transcript) {
  Transcriber& transcriber = *active_;
  for (bool more = true; more;) {
    std::string_view piece = std::exchange(first, {});
    if (piece.empty()) {
      captions.KeepFrom(transcriber.KeepFrom());
      const std::ptrdiff_t count = captions.Read(block_.data(), block_.size());
      if (count < 0) return ConversionResult::kOpenFailed;
      if (count == 0) break;
      piece = std::string_view(block_.data(), static_cast<std::size_t>(count));
    }
    if (bytes_read_ != nullptr) {
      bytes_read_->fetch_add(piece.size(), std::memory_order_relaxed);
    }
    more = transcriber.Feed(piece, captions);
    // Written after every piece, so that the transcriber holds one piece's output.
    if (const ConversionResult result = WriteOut(captions, transcript);
        result != ConversionResult::kConverted) {
      return result;
    }
  }
  transcriber.Finish(captions);
  return WriteOut(captions, transcript);
}

ConversionResult CaptionConverter::WriteOut(CaptionSource& captions, TranscriptSink& transcript) {
  if (active_->failed()) return ConversionResult::kOpenFailed;
  if (TranscriptOutput* const page = active_->page_output(); page != nullptr) {
    const OutputResult written =
        WriteOutput(*active_, *page, captions, *page_sink_, reread_, scratch_);
    if (written == OutputResult::kReadFailed) return ConversionResult::kOpenFailed;
    if (written == OutputResult::kWriteFailed) {
      // The transcript goes on without its page.
      page_result_ = ConversionResult::kWriteFailed;
      active_->AlsoWritePage(nullptr, false);
    }
  }
  return ResultOf(WriteOutput(*active_, captions, transcript, reread_, scratch_));
}

}  // namespace orvane
