// Cue text to plain text: tags and ruby readings removed, character
// references decoded, runs of spaces made one, and the voice spans that name
// a line's speaker. Every caption format's reader cleans its cue lines here.
//
// The three steps are stages that each keep their state between pieces of a
// line, so that a line too long to hold is cleaned as it streams past with the
// same code that cleans a whole line at once; a whole line skips the stages
// it has nothing for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "conversion/text_scan.h"

namespace orvane {

// Only the first this many bytes of a tag are read: a speaker's name is cut
// there. Real names are short; a hostile tag cannot make one grow.
inline constexpr std::size_t kTagBytesRead = 1024;

// The voice span open across the lines of a cue.
struct Voice {
  bool open = false;
  // "" names nobody. A span closed by </v> leaves its name until the next
  // opens or the cue ends.
  std::string name;
};

// Appends code point `c` (not a surrogate, at most 0x10FFFF) in UTF-8.
void AppendUtf8(char32_t c, std::string& out);

// True when `text` is well-formed UTF-8 throughout (RFC 3629: shortest form,
// no surrogates, at most U+10FFFF).
bool IsUtf8(std::string_view text);

// Appends `text` to `out` as UTF-8: its well-formed UTF-8 sequences as they
// are, and every other byte read as a Windows-1252 character (the five bytes
// it leaves unassigned as the code points of their value).
void AppendAsUtf8(std::string_view text, std::string& out);

// Which bytes count as spaces when runs of spaces are made one space.
enum class Spaces : std::uint8_t { kSpacesAndTabs, kAlsoLineBreaks };

// Appends `text` to `out` with its character references decoded, then every
// run of spaces (as `spaces` says, and no-break spaces) made one space and
// none at either end.
void AppendDecodedCollapsed(std::string_view text, Spaces spaces, std::string& out);

// True when the UTF-8 `text` ends a sentence: its last character is one of
// . ! ? … 。 ！ ？, or one of " ' ” ’ ) ] » right after one of those.
bool EndsSentence(std::string_view text);

// AppendDecodedCollapsed for text fed in pieces: Add each piece, then Finish.
class DecodedCollapsed;

// True when all of `text` is a timestamp as a cue timing line writes one:
// [H...H:]MM:SS.mmm, hours one to nine digits, minutes and seconds at most
// 59, exactly three digits of fraction after '.' or ','.
bool IsTimestamp(std::string_view text);

// The longest text label a line can start with, in bytes, words and the
// spaces between them.
inline constexpr std::size_t kMaxTextLabel = 50;

// When the cleaned line `text` starts with a speaker written as text ("Dora
// Demszky: Hello"): one to four words separated by single spaces, at most
// kMaxTextLabel bytes, then ':', a space and more text. A word is a run of
// letters (ASCII, or any byte from 80 on), digits and ' - . _, the first
// starting with a letter, the others with a letter or a digit. Returns the
// size of the words, or 0 when the line starts with no such label.
std::size_t TextLabelSize(std::string_view text);

// Cleans the text lines of one cue at a time.
class CueTextCleaner {
 public:
  // A whole line, cleaned. Both views are valid until the next line.
  struct CleanedLine {
    // `line` itself when it needs no cleaning, else bytes of this cleaner or
    // of the `out` that CleanLine was given.
    std::string_view text;
    // The name of its voice: the voice open at its start, or else the first
    // that opens on it ("" when none or nameless).
    std::string_view speaker;
  };
  // Cleans the whole cue text line `line`, whose `traits` are ScanLine(line).
  // Appends to `out` only when the last step needs a buffer of its own.
  CleanedLine CleanLine(std::string_view line, unsigned traits, std::string& out) {
    // Most lines with bytes of 80 or more are UTF-8 throughout.
    if ((traits & kHasHigh) != 0 && IsUtf8(line)) traits &= ~kHasHigh;
    if (subrip_) traits |= BraceTraits(line);
    if ((traits & (kHasLess | kHasAmpersand | kNeedsCollapse | kHasHigh)) != 0) {
      return CleanMarkedLine(line, traits, out);
    }
    // Nothing to clean, and no tag to change the voice: most lines.
    return {line, voice_.open ? std::string_view(voice_.name) : std::string_view()};
  }

  // The same for a line fed in pieces: Begin, Add for each piece, End.
  // `last_close` is the offset in the line of its last '>' (0 when none), which
  // tells whether a '<' starts a tag before the rest of the line is seen;
  // `last_brace`, of its last '}', does the same for SubRip's "{\".
  void Begin(std::uint64_t last_close, std::uint64_t last_brace = 0);
  void Add(std::string_view bytes, std::string& out);
  std::string_view End(std::string& out);

  // Reads SubRip's position codes, "{\" up to the next '}' on the line, as
  // tags too, found left to right with the others, whichever opens first.
  void set_subrip(bool subrip) { subrip_ = subrip; }

  // True, once, after a line in which an inline timestamp tag was removed.
  bool TakeTimestamp() { return std::exchange(saw_timestamp_, false); }

  // The voice span open now; a line cleaned again later starts from a copy.
  const Voice& voice() const { return voice_; }
  void set_voice(const Voice& voice) { voice_ = voice; }
  // Closes the voice span at the end of a cue.
  void EndCue() {
    voice_.open = false;
    voice_.name.clear();
  }

 private:
  // Removes tags and ruby readings.
  struct TagStage {
    bool in_tag = false;        // the piece ended inside a tag
    bool in_brace = false;      // ... a SubRip "{\" tag
    bool brace_held = false;    // the piece ended with a '{' that may open one
    bool in_ruby_text = false;  // inside <rt>...</rt>
    std::string tag;            // the tag's first bytes, while in_tag
    std::uint64_t offset = 0;   // of the next byte in the line
    std::uint64_t last_close = 0;
    std::uint64_t last_brace = 0;
  };
  // Decodes character references.
  struct ReferenceStage {
    std::string held;  // from the '&' of a reference not yet complete
  };
  // Makes the bytes that are no well-formed UTF-8 characters of Windows-1252.
  struct EncodingStage {
    std::string held;    // a sequence cut by the end of a piece
    std::string joined;  // scratch: the held bytes and the next piece
  };
  // Makes runs of spaces one space.
  struct SpaceStage {
    bool space = false;     // spaces seen since the last byte written
    bool wrote = false;     // a byte written
    bool no_break = false;  // a C2 held: with A0 it is a no-break space
  };

  void BeginLine();
  CleanedLine CleanMarkedLine(std::string_view line, unsigned traits, std::string& out);
  // Bytes without their tags.
  struct TagFreeText {
    std::string_view text;
    bool spaces_joined = false;  // a removed tag brought two spaces together
  };
  // Writes `bytes` without their tags over what `out` held; the text is valid
  // until `out` changes.
  TagFreeText RemoveTags(std::string_view bytes, std::string& out);
  // RemoveTags with SubRip's "{\...}" tags too.
  TagFreeText RemoveSubRipTags(std::string_view bytes, std::string& out);
  // kHasLess when a SubRip line holds a '{', whose tags RemoveTags removes.
  static unsigned BraceTraits(std::string_view line);
  // Applies a tag's contents; `in_ruby_text` stands for tags_.in_ruby_text.
  void ApplyTag(std::string_view tag, bool& in_ruby_text);
  void OpenVoice(std::string_view name);
  void KeepLineVoice();
  std::string_view LineVoiceName() const;

  Voice voice_;
  bool saw_timestamp_ = false;
  bool subrip_ = false;
  // The line's voice: none yet, voice_.name (the voice open at its start, or
  // the first that opened on it) until a tag changes it, or line_voice_.
  enum class LineVoice : std::uint8_t { kNone, kCurrent, kHeld };
  LineVoice line_voice_state_ = LineVoice::kNone;
  std::string line_voice_;
  EncodingStage encoding_;
  TagStage tags_;
  ReferenceStage references_;
  SpaceStage spaces_;
  std::uint64_t raw_last_close_ = 0;  // of a line fed in pieces, in its bytes as read
  std::uint64_t raw_last_brace_ = 0;  // likewise
  std::uint64_t raw_offset_ = 0;      // of its next piece, likewise
  std::uint64_t encoded_offset_ = 0;  // of its next piece once encoded
  std::string encoded_;               // scratch
  std::string without_tags_;          // scratch
  std::string decoded_;               // scratch
  std::string name_scratch_;          // scratch of a voice's name

  friend void AppendDecodedCollapsed(std::string_view, Spaces, std::string&);
  friend class DecodedCollapsed;
  friend void AppendAsUtf8(std::string_view, std::string&);
  static void AppendDecodedCollapsed(std::string_view text, Spaces spaces, std::string& decoded,
                                     std::string& out);
  // Appends `text` with every byte that is not part of a well-formed UTF-8
  // sequence read as Windows-1252; with `more`, a sequence cut by the end of
  // `text` is held for the next piece.
  static void Encode(std::string_view text, EncodingStage& stage, bool more, std::string& out);
  static void DecodeReferences(std::string_view text, ReferenceStage& stage, std::string& out);
  static void FinishReferences(ReferenceStage& stage, std::string& out);
  static void Collapse(std::string_view text, Spaces spaces, SpaceStage& stage, std::string& out);
  static void FinishCollapse(SpaceStage& stage, std::string& out);
};

class DecodedCollapsed {
 public:
  explicit DecodedCollapsed(Spaces spaces) : spaces_(spaces) {}
  // Appends to `out` what `piece` gives; a reference or a run of spaces may
  // go on in the next piece.
  void Add(std::string_view piece, std::string& out);
  // Appends what the last piece left held.
  void Finish(std::string& out);

 private:
  Spaces spaces_;
  CueTextCleaner::EncodingStage encoding_;
  CueTextCleaner::ReferenceStage references_;
  CueTextCleaner::SpaceStage collapse_;
  std::string encoded_;  // scratch
  std::string decoded_;  // scratch
};

}  // namespace orvane
