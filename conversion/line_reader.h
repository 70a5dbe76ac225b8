// The reading layer under both transcript styles: caption bytes fed in pieces
// of any size become lines, and a line too long to hold streams past.
//
// LineReader owns what every style reads alike: the first Ctrl-Z ends the
// input, a line cut by a piece boundary is carried into the next piece, a line
// that outgrows the line limit is handed on in pieces instead of being held,
// and held buffers are released once they have grown large. The line-end rule
// is its parameter. Complete lines inside a piece are not copied: the reader
// hands the consumer the whole run of them at once, so that a style can scan
// it with its own fast loop (the default style's SIMD scan sits there).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace orvane {

inline constexpr char kCtrlZ = '\x1A';
// A line limit that no line reaches.
inline constexpr std::size_t kNoLineLimit = static_cast<std::size_t>(-1);
// Buffers that grew past this size are released when a new file starts.
inline constexpr std::size_t kKeptCapacity = 1 << 20;

// Empties `buffer`, releasing its storage when it has grown past kKeptCapacity.
template <class Buffer>
void ClearKeepingSmall(Buffer& buffer) {
  if (buffer.capacity() * sizeof(typename Buffer::value_type) > kKeptCapacity) {
    Buffer().swap(buffer);
  } else {
    buffer.clear();
  }
}

// Bytes [begin, end) of the caption file, counted from the first byte fed.
struct SourceRange {
  std::uint64_t begin = 0;
  std::uint64_t end = 0;
};

// Which bytes end a line.
enum class LineEnds : std::uint8_t {
  kLineFeed,  // LF, with a CR right before it belonging to it; a lone CR is text
  kAny,       // LF, CR LF, or a lone CR (WebVTT)
};

// Reads lines for `Lines`, which must provide:
//   const char* ScanLines(const char* begin, const char* end, const char** line)
//       The complete lines of [begin, end), which ends just after a line end
//       (with kAny, maybe a CR whose LF comes in the next piece). Stops at the
//       first Ctrl-Z: returns it and sets *line to the start of its line.
//       Returns nullptr when there is none. Offsets: see OffsetOf.
//   void OnLine(std::string_view line, std::uint64_t begin)
//       A line carried across pieces, without its line end, at offset `begin`.
//   void OnLongLineBegin(std::uint64_t begin)
//   void OnLongLineBytes(std::string_view bytes)
//   void OnLongLineEnd(std::uint64_t end)
//       A line longer than the limit, in pieces, without its line end.
// A line cut by a Ctrl-Z or by the end of the input ends there; with
// kLineFeed it then keeps a final CR.
template <class Lines, LineEnds kEnds>
class LineReader {
 public:
  LineReader(Lines& lines, std::size_t line_limit)
      : lines_(lines), line_limit_(line_limit == 0 ? 1 : line_limit) {}

  // Reads the next piece. Returns false once a Ctrl-Z has ended the input;
  // pieces fed after that are ignored.
  bool Feed(std::string_view bytes) {
    if (ended_ || bytes.empty()) return !ended_;  // an empty view may have no storage
    const char* begin = bytes.data();
    const char* const end = begin + bytes.size();
    piece_ = begin;
    piece_offset_ = fed_;
    fed_ += bytes.size();
    if (skip_line_feed_) {
      skip_line_feed_ = false;
      if (*begin == '\n' && ++begin == end) return true;
    }
    if (InLine()) {
      const char* const line_end = FirstLineEnd(begin, end);
      if (const void* stop = std::memchr(begin, kCtrlZ, line_end - begin)) {
        return EndAt(begin, static_cast<const char*>(stop));
      }
      AddToLine(begin, line_end);
      if (line_end == end) return true;
      EndHeldLine(line_end);
      begin = AfterLineEnd(line_end, end);
    }
    if (const char* const last = LastLineEnd(begin, end)) {
      const char* line = nullptr;
      if (const char* stop = lines_.ScanLines(begin, last + 1, &line)) return EndAt(line, stop);
      begin = AfterLineEnd(last, end);
    }
    if (begin == end) return true;
    if (const void* stop = std::memchr(begin, kCtrlZ, end - begin)) {
      return EndAt(begin, static_cast<const char*>(stop));
    }
    line_begin_ = OffsetOf(begin);
    AddToLine(begin, end);
    return true;
  }

  // Ends the input: reads its last line when it has no line end. Call once.
  void Finish() {
    if (!ended_) EndLastLine(fed_);
  }

  // Starts a new caption file.
  void Reset() {
    ClearKeepingSmall(pending_);
    long_ = held_return_ = skip_line_feed_ = ended_ = false;
    fed_ = 0;
  }

  // Counts `count` bytes that were read but not fed (a byte order mark) before
  // the first piece.
  void SkipBytes(std::uint64_t count) { fed_ += count; }

  // Offset of `at`, a byte of the piece being read.
  std::uint64_t OffsetOf(const char* at) const {
    return piece_offset_ + static_cast<std::uint64_t>(at - piece_);
  }
  // The first offset that a later line may still need to read again: the
  // start of the unfinished line, or the end of what was fed.
  std::uint64_t KeepFrom() const { return InLine() ? line_begin_ : fed_; }

 private:
  bool InLine() const { return !pending_.empty() || long_; }

  // The first line end in [at, end), or `end`.
  static const char* FirstLineEnd(const char* at, const char* end) {
    const void* lf = std::memchr(at, '\n', static_cast<std::size_t>(end - at));
    const char* found = lf == nullptr ? end : static_cast<const char*>(lf);
    if constexpr (kEnds == LineEnds::kAny) {
      if (const void* cr = std::memchr(at, '\r', static_cast<std::size_t>(found - at))) {
        found = static_cast<const char*>(cr);
      }
    }
    return found;
  }

  // The last line end in [begin, end), or nullptr.
  static const char* LastLineEnd(const char* begin, const char* end) {
    const std::string_view bytes(begin, static_cast<std::size_t>(end - begin));
    std::size_t last = bytes.rfind('\n');
    if constexpr (kEnds == LineEnds::kAny) {
      // A CR after the last LF is a line end of its own.
      const std::size_t from = last == bytes.npos ? 0 : last + 1;
      if (const std::size_t cr = bytes.substr(from).rfind('\r'); cr != bytes.npos) {
        last = from + cr;
      }
    }
    return last == bytes.npos ? nullptr : begin + last;
  }

  // Where the next line starts after the line end at `at`: with kAny, an LF
  // after a CR belongs to it, even when it comes in the next piece.
  const char* AfterLineEnd(const char* at, const char* end) {
    ++at;
    if (kEnds == LineEnds::kAny && at[-1] == '\r') {
      if (at == end) {
        skip_line_feed_ = true;
      } else if (*at == '\n') {
        ++at;
      }
    }
    return at;
  }

  void AddToLine(const char* from, const char* to) {
    if (long_) {
      PassLong(std::string_view(from, static_cast<std::size_t>(to - from)));
      return;
    }
    pending_.append(from, to);
    if (pending_.size() > line_limit_) {
      long_ = true;
      lines_.OnLongLineBegin(line_begin_);
      PassLong(pending_);
      std::string().swap(pending_);
    }
  }

  // Hands on the bytes of a long line. With kLineFeed a final CR waits for
  // the next bytes, which tell whether it belongs to a CR LF line end.
  void PassLong(std::string_view bytes) {
    if (bytes.empty()) return;
    if (held_return_) {
      held_return_ = false;
      lines_.OnLongLineBytes("\r");
    }
    if (kEnds == LineEnds::kLineFeed && bytes.back() == '\r') {
      held_return_ = true;
      bytes.remove_suffix(1);
    }
    if (!bytes.empty()) lines_.OnLongLineBytes(bytes);
  }

  // Ends the held line at the line end byte `at` of this piece.
  void EndHeldLine(const char* at) {
    if (long_) {
      long_ = false;
      const std::uint64_t end = OffsetOf(at) - (held_return_ ? 1 : 0);
      held_return_ = false;
      lines_.OnLongLineEnd(end);
      return;
    }
    if (kEnds == LineEnds::kLineFeed && pending_.back() == '\r') pending_.pop_back();
    lines_.OnLine(pending_, line_begin_);
    pending_.clear();
  }

  // Ends the last line of the input at offset `end`, keeping a final CR.
  void EndLastLine(std::uint64_t end) {
    if (long_) {
      if (held_return_) {
        held_return_ = false;
        lines_.OnLongLineBytes("\r");
      }
      long_ = false;
      lines_.OnLongLineEnd(end);
    } else if (!pending_.empty()) {
      lines_.OnLine(pending_, line_begin_);
      pending_.clear();
    }
  }

  // Ends the input at the Ctrl-Z `stop` inside the line that starts at `line`
  // (or continues there, when an earlier piece began it).
  bool EndAt(const char* line, const char* stop) {
    if (!InLine()) line_begin_ = OffsetOf(line);
    AddToLine(line, stop);
    EndLastLine(OffsetOf(stop));
    ended_ = true;
    return false;
  }

  Lines& lines_;
  std::size_t line_limit_;
  std::string pending_;           // start of a line whose line end has not arrived yet
  std::uint64_t line_begin_ = 0;  // offset of that line
  bool long_ = false;             // the unfinished line outgrew the limit
  bool held_return_ = false;      // a long line's last CR, not yet handed on
  bool skip_line_feed_ = false;   // a CR ended the last piece: an LF next belongs to it
  bool ended_ = false;
  std::uint64_t fed_ = 0;
  const char* piece_ = nullptr;
  std::uint64_t piece_offset_ = 0;
};

}  // namespace orvane
