// The differential check of the clean styles' fuzz targets, one per caption
// format. Arbitrary bytes, fed to a transcriber of the format in pieces the
// fuzzer chooses, with a line limit it chooses (small ones make lines too long
// to hold, compared by hash and cleaned again from the caption bytes) and in
// the layout it chooses (lines, paragraphs, paragraphs with time stamps), must
// give exactly the transcript of the plain reference reading.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "conversion/transcriber.h"
#include "fuzz/fuzz_support.h"
#include "tests/oracle/clean_reference.h"

namespace orvane::fuzz {

// Runs the check on the fuzzer's input; returns the caption bytes it used.
inline std::string CheckCleanTranscript(const std::uint8_t* data, std::size_t size,
                                        CaptionFormat format, oracle::Format reference_format) {
  FuzzedDataProvider provider(data, size);
  // The last bytes of the input choose how the caption bytes are cut up.
  const auto largest_piece = std::size_t{1} << provider.ConsumeIntegralInRange(0, 12);
  const auto split_seed = provider.ConsumeIntegral<std::uint32_t>();
  const auto limit_choice = provider.ConsumeIntegralInRange<std::size_t>(0, 64);
  const std::size_t line_limit = limit_choice == 0 ? kNoLineLimit : limit_choice;
  const auto layout_choice = provider.ConsumeIntegralInRange<std::size_t>(0, 2);
  constexpr TranscriptStyle kStyles[] = {TranscriptStyle::kClean, TranscriptStyle::kParagraphs,
                                         TranscriptStyle::kTimedParagraphs};
  constexpr oracle::Layout kLayouts[] = {oracle::Layout::kLines, oracle::Layout::kParagraphs,
                                         oracle::Layout::kTimedParagraphs};
  std::string captions = provider.ConsumeRemainingBytesAsString();

  // Transcribers live for the whole run, so that Reset must forget the last
  // input and keep the format.
  static std::unique_ptr<Transcriber> transcribers[3][65];
  auto& transcriber = transcribers[layout_choice][limit_choice];
  if (!transcriber) {
    transcriber = MakeTranscriber(kStyles[layout_choice], line_limit);
    transcriber->SetFormat(format);
  }
  transcriber->Reset();
  MemorySource source(captions);
  StringSink sink;
  std::vector<char> buffer(1 + split_seed % 64);
  std::string scratch;
  transcriber->Feed(std::string_view(), source);  // an empty piece without any storage
  bool more = true;
  const auto write_out = [&] {
    Check(WriteOutput(*transcriber, source, sink, buffer, scratch) == OutputResult::kWritten,
          "long line not read again");
  };
  ForEachPiece(captions, largest_piece, split_seed,
               [&](std::string_view piece, std::uint32_t draw) {
                 const bool fed = transcriber->Feed(piece, source);
                 Check(more || !fed, "Feed accepted bytes after a Ctrl-Z");
                 more = fed;
                 if (draw % 2 == 0) write_out();
               });
  transcriber->Finish(source);
  write_out();

  Check(!transcriber->failed(), "a line could not be read again");
  Check(more == (captions.find('\x1A') == captions.npos), "Feed reported the end wrongly");
  Check(sink.text == oracle::CleanTranscript(captions, oracle::Bytes::kAsFed,
                                             kLayouts[layout_choice], reference_format),
        "transcript differs from the reference reading");
  return captions;
}

}  // namespace orvane::fuzz
