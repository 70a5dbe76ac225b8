#include "conversion/transcriber.h"

#include <algorithm>
#include <vector>

#include "conversion/caption_filter.h"
#include "conversion/clean_writer.h"
#include "conversion/cue_text.h"
#include "conversion/webvtt_reader.h"

namespace orvane {
namespace {

class DefaultTranscriber final : public Transcriber {
 public:
  explicit DefaultTranscriber(std::size_t line_limit) : filter_(FastestKernel(), line_limit) {}
  bool Feed(std::string_view bytes, CaptionSource& /*source*/) override {
    return filter_.Feed(bytes);
  }
  void Finish(CaptionSource& /*source*/) override { filter_.Finish(); }
  void Reset() override { filter_.Reset(); }
  void SetFormat(CaptionFormat /*format*/) override {}
  std::uint64_t KeepFrom() const override { return filter_.KeepFrom(); }
  bool failed() const override { return false; }
  TranscriptOutput& output() override { return filter_.transcript(); }

  // A long line is written without its tags, and with CR LF unless no text
  // remains.
  void BeginLongLine(const LongLine& /*line*/) override {
    tags_ = TagRemover();
    any_text_ = false;
  }
  void AddLongLineBytes(std::string_view bytes, std::string& out) override {
    const std::size_t before = out.size();
    tags_.Feed(bytes, out);
    any_text_ = any_text_ || out.size() != before;
  }
  void EndLongLine(std::string& out) override {
    const std::size_t before = out.size();
    tags_.Finish(out);
    if (any_text_ || out.size() != before) out.append("\r\n");
  }

 private:
  CaptionFilter filter_;
  TagRemover tags_;
  bool any_text_ = false;
};

class CleanTranscriber final : public Transcriber {
 public:
  CleanTranscriber(TranscriptLayout layout, std::size_t line_limit)
      : writer_(output_, layout), reader_(writer_, line_limit) {}
  bool Feed(std::string_view bytes, CaptionSource& source) override {
    return reader_.Feed(bytes, source);
  }
  void Finish(CaptionSource& source) override {
    reader_.Finish(source);
    writer_.Finish();
    if (page_ != nullptr) page_writer_->Finish();
  }
  void SetFormat(CaptionFormat format) override {
    reader_.SetFormat(format);
    cleaner_.set_subrip(format == CaptionFormat::kSubRip);
  }
  void SetPage(const PageInfo* page) override { writer_.SetPage(page); }
  void AlsoWritePage(const PageInfo* page, bool timed) override {
    if (page == nullptr) {
      reader_.set_sink(writer_);
      page_ = nullptr;
      return;
    }
    if (page_writer_ == nullptr || page_timed_ != timed) {
      page_writer_ = std::make_unique<CleanTranscriptWriter>(
          page_output_, timed ? TranscriptLayout::kTimedPage : TranscriptLayout::kPage);
      tee_ = std::make_unique<CueTee>(writer_, *page_writer_);
      page_timed_ = timed;
    }
    page_writer_->SetPage(page);
    reader_.set_sink(*tee_);
    page_ = page;
  }
  TranscriptOutput* page_output() override { return page_ != nullptr ? &page_output_ : nullptr; }
  void Reset() override {
    reader_.Reset();
    writer_.Reset();
    output_.Reset();
    if (page_writer_ != nullptr) page_writer_->Reset();
    page_output_.Reset();
  }
  std::uint64_t KeepFrom() const override {
    const std::uint64_t from = std::min(reader_.KeepFrom(), writer_.KeepFrom());
    return page_ != nullptr ? std::min(from, page_writer_->KeepFrom()) : from;
  }
  bool failed() const override { return reader_.failed(); }
  TranscriptOutput& output() override { return output_; }

  // A long line is cleaned again as it was the first time, and its first
  // `skip` bytes left out; its CR LF is in the output already.
  void BeginLongLine(const LongLine& line) override {
    cleaner_.set_voice(line.voice);
    cleaner_.Begin(line.last_close, line.last_brace);
    skip_ = line.skip;
    html_ = line.html;
    escaper_ = HtmlEscaper();
  }
  void AddLongLineBytes(std::string_view bytes, std::string& out) override {
    std::string& text = html_ ? text_ : out;
    const std::size_t before = text.size();
    cleaner_.Add(bytes, text);
    Skip(text, before);
    if (html_) Escape(out, false);
  }
  void EndLongLine(std::string& out) override {
    std::string& text = html_ ? text_ : out;
    const std::size_t before = text.size();
    cleaner_.End(text);
    Skip(text, before);
    if (html_) Escape(out, true);
  }

 private:
  void Skip(std::string& out, std::size_t from) {
    const std::size_t count =
        static_cast<std::size_t>(std::min<std::uint64_t>(skip_, out.size() - from));
    out.erase(from, count);
    skip_ -= count;
  }

  // Writes the text cleaned so far as HTML text.
  void Escape(std::string& out, bool last) {
    escaper_.Add(text_, out);
    if (last) escaper_.Finish(out);
    text_.clear();
  }

  TranscriptOutput output_;
  CleanTranscriptWriter writer_;
  // The page written beside the transcript, from the same cues.
  const PageInfo* page_ = nullptr;
  bool page_timed_ = false;
  TranscriptOutput page_output_;
  std::unique_ptr<CleanTranscriptWriter> page_writer_;
  std::unique_ptr<CueTee> tee_;
  bool html_ = false;
  HtmlEscaper escaper_;
  std::string text_;  // scratch of a long line written as HTML
  WebVttCueReader reader_;
  CueTextCleaner cleaner_;
  std::uint64_t skip_ = 0;
};

TranscriptLayout LayoutOf(TranscriptStyle style) {
  switch (style) {
    case TranscriptStyle::kParagraphs:
      return TranscriptLayout::kParagraphs;
    case TranscriptStyle::kTimedParagraphs:
      return TranscriptLayout::kTimedParagraphs;
    case TranscriptStyle::kDefault:
    case TranscriptStyle::kClean:
      break;
  }
  return TranscriptLayout::kLines;
}

}  // namespace

std::unique_ptr<Transcriber> MakePageTranscriber(bool timed, std::size_t line_limit) {
  return std::make_unique<CleanTranscriber>(
      timed ? TranscriptLayout::kTimedPage : TranscriptLayout::kPage, line_limit);
}

std::unique_ptr<Transcriber> MakeTranscriber(TranscriptStyle style, std::size_t line_limit) {
  if (IsClean(style)) return std::make_unique<CleanTranscriber>(LayoutOf(style), line_limit);
  return std::make_unique<DefaultTranscriber>(line_limit);
}

OutputResult WriteOutput(Transcriber& transcriber, CaptionSource& source, TranscriptSink& sink,
                         std::span<char> buffer, std::string& scratch) {
  return WriteOutput(transcriber, transcriber.output(), source, sink, buffer, scratch);
}

OutputResult WriteOutput(Transcriber& transcriber, TranscriptOutput& output, CaptionSource& source,
                         TranscriptSink& sink, std::span<char> buffer, std::string& scratch) {
  const std::size_t settled = std::min(output.unsettled_at, output.bytes.size());
  std::size_t from = 0;
  std::size_t lines = 0;
  for (; lines < output.long_lines.size(); ++lines) {
    const LongLine& line = output.long_lines[lines];
    if (line.at >= output.unsettled_at) break;
    if (!sink.Write(output.bytes.data() + from, line.at - from)) return OutputResult::kWriteFailed;
    from = line.at;
    // Written as it is read again, so that the line is never held whole.
    transcriber.BeginLongLine(line);
    bool written = true;
    const bool read = ReadRange(source, line.range, buffer, [&](std::string_view bytes) {
      scratch.clear();
      transcriber.AddLongLineBytes(bytes, scratch);
      written = written && sink.Write(scratch.data(), scratch.size());
    });
    if (!read) return OutputResult::kReadFailed;  // changed or failed under us
    scratch.clear();
    transcriber.EndLongLine(scratch);
    if (!written || !sink.Write(scratch.data(), scratch.size())) return OutputResult::kWriteFailed;
  }
  const bool written = sink.Write(output.bytes.data() + from, settled - from);
  if (output.unsettled_at == TranscriptOutput::kAllSettled && lines == output.long_lines.size()) {
    output.Clear();
  } else {
    output.DropWritten(settled, lines);
  }
  return written ? OutputResult::kWritten : OutputResult::kWriteFailed;
}

std::string TranscribeCaptions(std::string_view captions, TranscriptStyle style,
                               std::size_t line_limit, CaptionFormat format) {
  const std::unique_ptr<Transcriber> transcriber = MakeTranscriber(style, line_limit);
  transcriber->SetFormat(format);
  transcriber->Reset();
  MemorySource source(captions);
  transcriber->Feed(captions, source);
  transcriber->Finish(source);
  TranscriptOutput& output = transcriber->output();
  if (output.long_lines.empty()) return std::move(output.bytes);  // nothing to read again
  StringSink sink;
  std::vector<char> buffer(kDefaultReadBlock);
  std::string scratch;
  WriteOutput(*transcriber, source, sink, buffer, scratch);
  return std::move(sink.text);
}

}  // namespace orvane
