// The web page of a transcript: a small, self-contained HTML document that
// holds the transcript's paragraphs, for publishing beside the video. No
// script and no external resource, so that it works offline and inside a
// course package.
#pragma once

#include <string>
#include <string_view>

namespace orvane {

// What a page says about itself besides its paragraphs.
struct PageInfo {
  // The caption file's name without its extension; "" for standard input.
  std::string name;
  // The course title, cleaned, without a full stop added; "" when none.
  std::string title;
  // The language a page falls back to when its captions do not tell one:
  // the run's, else the user's (a tag as IsLanguageTag takes, or "").
  std::string language;
};

// True when `tag` is a language tag of the shape pages take: two ASCII
// letters, then optionally '-' and four letters (a script), then optionally
// '-' and two letters or three digits (a region). Three-letter languages are
// left out on purpose: they turn ordinary words into languages.
bool IsLanguageTag(std::string_view tag);

// The language a caption file's name tells: the last dot-separated part of
// `name` (without its extension) when it is a language tag ("lesson.pt-BR"
// gives "pt-BR", "fr" gives "fr"), else "".
std::string LanguageOfName(std::string_view name);

// The language of a POSIX locale name, as LC_ALL, LC_MESSAGES or LANG hold
// it: encoding and modifier dropped, '_' made '-' ("fr_CA.UTF-8" gives
// "fr-CA"); "" when it is no language tag ("C", "POSIX").
std::string LanguageOfLocale(std::string_view locale);

// Appends `text` (UTF-8) as HTML text: '&', '<' and '>' (and '"' when
// `attribute`) as character references, and every character HTML does not
// allow in text (C0 controls but tab, line feed, form feed and carriage
// return; DEL and the C1 controls; the noncharacters) as U+FFFD.
void AppendHtml(std::string_view text, std::string& out, bool attribute = false);

// AppendHtml for text fed in pieces: a character cut by the end of a piece
// is held for the next.
class HtmlEscaper {
 public:
  void Add(std::string_view piece, std::string& out);
  void Finish(std::string& out);

 private:
  std::string held_;
};

// Appends the page's start, up to and with its <h1>, in `language`.
void AppendPageHead(const PageInfo& page, std::string_view language, std::string& out);
// Appends the page's end.
void AppendPageFoot(std::string& out);

}  // namespace orvane
