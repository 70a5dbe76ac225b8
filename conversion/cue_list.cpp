#include "conversion/cue_list.h"

#include <utility>

#include "conversion/sources.h"
#include "conversion/webvtt_reader.h"

namespace orvane {
namespace {

// Collects the reader's cues; every line is held, so none comes as LongText.
class CueCollector : public CueSink {
 public:
  explicit CueCollector(std::vector<CueListEntry>& cues) : cues_(cues) {}
  void BeginCue(const CueTiming& timing) override { cues_.push_back({timing, {}}); }
  void AddLine(const CueLine& line) override {
    const std::string_view speaker = line.speaker.empty() ? line.label : line.speaker;
    cues_.back().lines.push_back({std::string(line.text), std::string(speaker)});
  }
  void InlineTimestamp() override {}
  std::uint64_t GrowthPrefixSize() const override { return 0; }
  void EndCue() override {}

 private:
  std::vector<CueListEntry>& cues_;
};

// The UTF-8 text of a UTF-16 file's bytes after their mark.
std::string DecodeUtf16(std::string_view bytes, bool big_endian) {
  MemorySource raw(bytes);
  Utf16Source decoded(raw, big_endian);
  std::string text;
  char buffer[64 * 1024];
  for (std::ptrdiff_t count; (count = decoded.Read(buffer, sizeof buffer)) > 0;) {
    text.append(buffer, static_cast<std::size_t>(count));
  }
  return text;
}

}  // namespace

std::vector<CueListEntry> ReadCueList(std::string_view captions, CaptionFormat format) {
  std::string decoded;
  if (bool big_endian = false; IsUtf16Mark(captions, big_endian)) {
    decoded = DecodeUtf16(captions.substr(2), big_endian);
    captions = decoded;
  }
  std::vector<CueListEntry> cues;
  CueCollector collector(cues);
  WebVttCueReader reader(collector, kNoLineLimit);
  reader.SetFormat(format);
  reader.Reset();
  MemorySource source(captions);
  reader.Feed(captions, source);
  reader.Finish(source);
  return cues;
}

}  // namespace orvane
