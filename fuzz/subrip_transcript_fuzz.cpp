// Differential fuzzing of SubRip files in the clean styles. Arbitrary bytes,
// fed to a transcriber reading SubRip in pieces the fuzzer chooses, with a
// line limit it chooses (small ones make lines too long to hold, so that
// position codes and tags are cleaned again from the caption bytes) and in the
// layout it chooses, must give exactly the transcript of the plain reference
// reading.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "conversion/transcriber.h"
#include "fuzz/fuzz_support.h"
#include "tests/oracle/clean_reference.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using orvane::fuzz::Check;
  FuzzedDataProvider provider(data, size);
  // The last bytes of the input choose how the caption bytes are cut up.
  const auto largest_piece = std::size_t{1} << provider.ConsumeIntegralInRange(0, 12);
  const auto split_seed = provider.ConsumeIntegral<std::uint32_t>();
  const auto limit_choice = provider.ConsumeIntegralInRange<std::size_t>(0, 64);
  const std::size_t line_limit = limit_choice == 0 ? orvane::kNoLineLimit : limit_choice;
  const auto layout_choice = provider.ConsumeIntegralInRange<std::size_t>(0, 2);
  constexpr orvane::TranscriptStyle kStyles[] = {orvane::TranscriptStyle::kClean,
                                                 orvane::TranscriptStyle::kParagraphs,
                                                 orvane::TranscriptStyle::kTimedParagraphs};
  constexpr orvane::oracle::Layout kLayouts[] = {orvane::oracle::Layout::kLines,
                                                 orvane::oracle::Layout::kParagraphs,
                                                 orvane::oracle::Layout::kTimedParagraphs};
  const std::string captions = provider.ConsumeRemainingBytesAsString();

  // Transcribers live for the whole run, so that Reset must forget the last
  // input and keep the format.
  static std::unique_ptr<orvane::Transcriber> transcribers[3][65];
  auto& transcriber = transcribers[layout_choice][limit_choice];
  if (!transcriber) {
    transcriber = orvane::MakeTranscriber(kStyles[layout_choice], line_limit);
    transcriber->SetFormat(orvane::CaptionFormat::kSubRip);
  }
  transcriber->Reset();
  orvane::MemorySource source(captions);
  orvane::StringSink sink;
  std::vector<char> buffer(1 + split_seed % 64);
  std::string scratch;
  transcriber->Feed(std::string_view(), source);  // an empty piece without any storage
  bool more = true;
  const auto write_out = [&] {
    Check(orvane::WriteOutput(*transcriber, source, sink, buffer, scratch) ==
              orvane::OutputResult::kWritten,
          "long line not read again");
  };
  orvane::fuzz::ForEachPiece(captions, largest_piece, split_seed,
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
  Check(sink.text == orvane::oracle::CleanTranscript(captions, orvane::oracle::Bytes::kAsFed,
                                                     kLayouts[layout_choice],
                                                     orvane::oracle::Format::kSubRip),
        "transcript differs from the reference reading");
  return 0;
}
