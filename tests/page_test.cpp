// The web page of a transcript: HTML text, the page's language, its title
// and heading, and its paragraphs, which are the paragraph layout's, escaped,
// whatever the read block, line limit or source.
#include "conversion/page.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "conversion/converter.h"
#include "tests/test_support.h"

namespace orvane {
namespace {

using testing::Native;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;
namespace fs = std::filesystem;

constexpr std::string_view kFffd = "\xEF\xBF\xBD";

std::string Utf8(char32_t c) {
  std::string out;
  if (c < 0x80) return out += static_cast<char>(c);
  const int tail = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
  constexpr char32_t kLead[] = {0, 0xC0, 0xE0, 0xF0};
  out += static_cast<char>(kLead[tail] | (c >> (6 * tail)));
  for (int i = tail - 1; i >= 0; --i) out += static_cast<char>(0x80 | ((c >> (6 * i)) & 0x3F));
  return out;
}

std::string Repeat(std::string_view text, std::size_t times) {
  std::string out;
  while (times-- > 0) out += text;
  return out;
}

// `ascii` as UTF-16 little-endian, after its byte order mark.
std::string Utf16Le(std::string_view ascii) {
  std::string out = "\xFF\xFE";
  for (const char c : ascii) (out += c) += '\0';
  return out;
}

std::string Html(std::string_view text, bool attribute = false) {
  std::string out;
  AppendHtml(text, out, attribute);
  return out;
}

// The text fed to an HtmlEscaper in the pieces that the cuts `cuts` make.
std::string HtmlInPieces(std::string_view text, const std::vector<std::size_t>& cuts) {
  HtmlEscaper escaper;
  std::string out;
  std::size_t from = 0;
  for (const std::size_t cut : cuts) {
    escaper.Add(text.substr(from, cut - from), out);
    from = cut;
  }
  escaper.Add(text.substr(from), out);
  escaper.Finish(out);
  return out;
}

TEST(PageText, EscapesMarkupAndReplacesWhatHtmlForbids) {
  using namespace std::string_literals;
  struct Case {
    std::string text, html;
  };
  std::vector<Case> cases = {
      {"Tom & Jerry <3 > \"q\" 'a'", "Tom &amp; Jerry &lt;3 &gt; \"q\" 'a'"},
      {"\0\x01\x08\x0B\x0E\x1F\x7F"s, Repeat(kFffd, 7)},
      {"\t\n\f\r ~", "\t\n\f\r ~"},
      // Malformed: a byte that starts no sequence, overlong, surrogate, past
      // U+10FFFF, cut short: each byte one U+FFFD, and what follows is read anew.
      {"\x80|\xC0\xAF|\xE0\x80\xAF|\xED\xA0\x80|\xF0\x8F\xBF\xBF|\xF4\x90\x80\x80|\xF5\xFF",
       Repeat(kFffd, 1) + "|" + Repeat(kFffd, 2) + "|" + Repeat(kFffd, 3) + "|" + Repeat(kFffd, 3) +
           "|" + Repeat(kFffd, 4) + "|" + Repeat(kFffd, 4) + "|" + Repeat(kFffd, 2)},
      {"\xE2\x82<\xE2\xE2\x82\xAC\xF0\x9F\x98\xF0\x9F\x98\x80\xE2\x82",
       Repeat(kFffd, 2) + "&lt;" + Repeat(kFffd, 1) + "\xE2\x82\xAC" + Repeat(kFffd, 3) +
           "\xF0\x9F\x98\x80" + Repeat(kFffd, 2)},
  };
  for (const char32_t c : {0x80, 0x9F, 0xFDD0, 0xFDE7, 0xFDEF})
    cases.push_back({Utf8(c), std::string(kFffd)});
  for (const char32_t c : {0xA0, 0xFDCF, 0xFDF0, 0xFFFD, 0xD7FF, 0xE000, 0x10FFFD, 0x1F600}) {
    cases.push_back({Utf8(c), Utf8(c)});
  }
  for (char32_t plane = 0; plane <= 0x10; ++plane) {
    const char32_t base = plane << 16;
    cases.push_back({Utf8(base | 0xFFFE) + Utf8(base | 0xFFFF) + Utf8(base | 0xFFFD),
                     Repeat(kFffd, 2) + Utf8(base | 0xFFFD)});
  }
  Case all;
  for (const Case& c : cases) {
    all.text += c.text + "&";
    all.html += c.html + "&amp;";
  }
  cases.push_back(all);
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.text));
    EXPECT_EQ(Html(c.text), c.html);
    std::string attribute = c.html;
    for (std::size_t at = 0; (at = attribute.find('"', at)) != attribute.npos; at += 6) {
      attribute.replace(at, 1, "&quot;");
    }
    EXPECT_EQ(Html(c.text, true), attribute);
    // In pieces: every piece size, and for short texts every two cuts.
    for (std::size_t size = 1; size <= c.text.size(); ++size) {
      std::vector<std::size_t> cuts;
      for (std::size_t at = size; at < c.text.size(); at += size) cuts.push_back(at);
      ASSERT_EQ(HtmlInPieces(c.text, cuts), c.html) << "pieces of " << size;
    }
    for (std::size_t i = 0; c.text.size() <= 40 && i <= c.text.size(); ++i) {
      for (std::size_t j = i; j <= c.text.size(); ++j) {
        ASSERT_EQ(HtmlInPieces(c.text, {i, j}), c.html) << "cut at " << i << " and " << j;
      }
    }
  }
}

TEST(PageLanguage, TagsNamesAndLocales) {
  // Two ASCII letters in either case, an optional four-letter script, an
  // optional region of two letters or three digits.
  for (const std::string_view tag :
       {"en", "EN", "fr-CA", "zh-Hans", "zh-Hans-CN", "es-419", "pt-BR", "sr-Latn-RS"}) {
    EXPECT_TRUE(IsLanguageTag(tag)) << tag;
  }
  for (const std::string_view tag :
       {"", "e", "eng", "en-", "-en", "en--US", "en-US-x", "en_US", "en-1234", "en-US-CA",
        "zh-Hans-Hant", "es-41", "es-4190", "123", "e1", "\xC3\xA9n", "en "}) {
    EXPECT_FALSE(IsLanguageTag(tag)) << tag;
  }
  // The languages that a caption file's name and a POSIX locale tell.
  using Of = std::string (*)(std::string_view);
  const std::tuple<Of, std::string_view, std::string_view> derived[] = {
      {LanguageOfName, "lesson.fr", "fr"},
      {LanguageOfName, "lesson.pt-BR", "pt-BR"},
      {LanguageOfName, "lesson.zh-Hans", "zh-Hans"},
      {LanguageOfName, "a.b.en", "en"},
      {LanguageOfName, "lesson", ""},
      {LanguageOfName, "fr", "fr"},
      {LanguageOfName, "lesson.final", ""},
      {LanguageOfName, "lesson.eng", ""},
      {LanguageOfName, "lesson.fr.", ""},
      {LanguageOfLocale, "fr_CA.UTF-8", "fr-CA"},
      {LanguageOfLocale, "de_DE@euro", "de-DE"},
      {LanguageOfLocale, "sr_RS.UTF-8@latin", "sr-RS"},
      {LanguageOfLocale, "es_419", "es-419"},
      {LanguageOfLocale, "ja", "ja"},
      {LanguageOfLocale, "C", ""},
      {LanguageOfLocale, "C.UTF-8", ""},
      {LanguageOfLocale, "POSIX", ""},
      {LanguageOfLocale, "", ""},
      {LanguageOfLocale, "english", ""}};
  for (const auto& [of, text, language] : derived) EXPECT_EQ(of(text), language) << text;
}

struct Written {
  std::string transcript, page;
};

// Converts `captions`, saved as `name`, with its page, as a folder run does.
Written ConvertWithPage(std::string_view name, std::string_view captions, TranscriptStyle style,
                        const std::string& language, std::size_t block = kDefaultReadBlock,
                        std::size_t limit = kDefaultLineLimit) {
  TempDir dir;
  const fs::path input = dir / Native(name);
  WriteFile(input, captions);
  CaptionConverter converter(Native(""), style, block, limit);
  converter.WritePages(style == TranscriptStyle::kTimedParagraphs, language);
  const fs::path output = fs::path(input).replace_extension(".txt");
  EXPECT_EQ(converter.Convert(input, output), ConversionResult::kConverted) << name;
  return {ReadFile(output), ReadFile(fs::path(input).replace_extension(".html"))};
}

std::string LangOf(const std::string& page) {
  std::smatch match;
  return std::regex_search(page, match, std::regex("<html lang=\"([^\"]*)\">")) ? match[1].str()
                                                                                : "<none>";
}

TEST(PageLanguage, HeaderThenNameThenRunThenUndetermined) {
  const std::string cue = "\n00:01.000 --> 00:02.000\nHi\n";
  const std::string srt = "\n\n1\n00:00:01,000 --> 00:00:02,000\nHi\n";
  const std::string sbv = "\n\n0:00:01.000,0:00:02.000\nHi\n";
  struct Case {
    std::string_view name;
    std::string captions;
    std::string run, lang;
  };
  const Case cases[] = {
      {"a.es.vtt", "WEBVTT\nKind: captions\nLanguage: fr\n" + cue, "de", "fr"},
      {"a.vtt", "WEBVTT\nLanguage: \t pt-BR \t\n" + cue, "de", "pt-BR"},
      {"a.vtt", "WEBVTT\nLanguage:EN\n" + cue, "", "EN"},
      {"a.es.vtt", "WEBVTT\nLanguage: english\n" + cue, "de", "es"},
      {"a.vtt", "WEBVTT\nLanguage: fr\n", "de", "fr"},  // no cue at all
      {"a.zh-Hans.vtt", "WEBVTT\n" + cue, "de", "zh-Hans"},
      {"a.fr.vtt", cue, "de", "fr"},  // no header
      {"a.vtt", "WEBVTT\n" + cue, "", "und"},
      {"a.vtt", "WEBVTT\n" + cue, "english", "und"},
      // Only the header tells: not a note, not cue text.
      {"a.vtt", "WEBVTT\n\nNOTE\nLanguage: fr\n" + cue, "", "und"},
      {"a.vtt", "WEBVTT\n" + cue + "Language: fr\n", "", "und"},
      // SubRip and SBV have no header.
      {"a.srt", "WEBVTT\nLanguage: fr" + srt, "de", "de"},
      {"a.pt-BR.srt", "WEBVTT\nLanguage: fr" + srt, "de", "pt-BR"},
      {"a.sbv", "WEBVTT\nLanguage: fr" + sbv, "", "und"},
      {"a.es-419.sbv", sbv.substr(2), "", "es-419"},
      // A UTF-16 file's header is read in its text.
      {"a.vtt", Utf16Le("WEBVTT\nLanguage: fr\n" + cue), "de", "fr"},
  };
  for (const Case& c : cases) {
    const Written written = ConvertWithPage(c.name, c.captions, TranscriptStyle::kClean, c.run);
    EXPECT_EQ(LangOf(written.page), c.lang)
        << c.name << ": " << ::testing::PrintToString(c.captions);
  }
}

// The page's paragraphs: its <p> lines.
std::vector<std::string> ParagraphsOf(const std::string& page) {
  std::vector<std::string> paragraphs;
  for (std::size_t at = 0; (at = page.find("\n<p>", at)) != page.npos;) {
    const std::size_t end = page.find('\n', ++at);
    paragraphs.push_back(page.substr(at, end - at));
  }
  return paragraphs;
}

// A page's paragraph as the timed paragraph layout writes it, before escaping:
// markup removed, the time shown as the text shows it.
std::string AsTranscript(std::string paragraph) {
  static const std::regex kTime(R"(<time datetime="PT(\d+)S">\[((\d+):)?(\d\d):(\d\d)\]</time>)");
  std::smatch time;
  if (std::regex_search(paragraph, time, kTime)) {
    const long seconds =
        std::stol("0" + time[3].str()) * 3600 + std::stol(time[4]) * 60 + std::stol(time[5]);
    EXPECT_EQ(std::stol(time[1]), seconds) << paragraph;
    paragraph.replace(static_cast<std::size_t>(time.position(0)),
                      static_cast<std::size_t>(time.length(0)),
                      "[" + time[2].str() + time[4].str() + ":" + time[5].str() + "]");
  }
  for (const std::string_view tag : {"<p>", "</p>", "<strong>", "</strong>"}) {
    for (std::size_t at; (at = paragraph.find(tag)) != paragraph.npos;)
      paragraph.erase(at, tag.size());
  }
  return paragraph;
}

// A cue of `text` from `start` to `end` seconds.
std::string Cue(int start, int end, std::string_view text) {
  const auto time = [](int t) {
    return std::to_string(t / 3600) + ":" + std::to_string(100 + t / 60 % 60).substr(1) + ":" +
           std::to_string(100 + t % 60).substr(1) + ".000";
  };
  return time(start) + " --> " + time(end) + "\n" + std::string(text) + "\n\n";
}

// `count` cues of `text`, a second each, one after another.
std::string Cues(int count, std::string_view text) {
  std::string cues = "WEBVTT\n\n";
  for (int i = 0; i < count; ++i) cues += Cue(i, i + 1, text);
  return cues;
}

std::string Joined(std::string_view text, std::size_t count) {
  std::string joined = Repeat(std::string(text) + " ", count);
  joined.pop_back();
  return joined;
}

// The styled and voiced example.
constexpr std::string_view kVoiced =
    "WEBVTT\n\nNOTE Reviewed 2024-03-01\n\nhazards-intro\n00:00:01.000 --> 00:00:04.000 line:0\n"
    "<v Instructor>Cables &amp; <c.yellow>wet floors</c>\n"
    "are the two <i>hazards</i> we see most.</v>\n\n"
    "00:00:04.000 --> 00:00:06.000\n<v Instructor>Report them.</v>\n\n"
    "00:00:06.000 --> 00:00:08.000\n<v.loud Ama Mensah>Even at night?\n";

// The worked examples and the cases where a page's text is not its bytes:
// references, labels, forbidden characters, joining without spaces, and
// paragraphs broken by their count of characters, not of bytes.
TEST(PageParagraphs, AreTheParagraphLayoutsEscaped) {
  const std::string sentence = "Tom &amp; Jerry ate 1 &lt; 2 pies.";  // 27 characters
  const std::string cafe = "caf\xC3\xA9 &amp; cr\xC3\xA8me";          // 12 characters
  // Forbidden characters, written and decoded, and allowed ones.
  const std::string bell = "bell" + Repeat(std::string(kFffd) + " ", 3) + "\xE2\x82\xAC " +
                           Repeat(std::string(kFffd) + " ", 2) + "\xEF\xB7\x8F \xF4\x8F\xBF\xBD";
  struct Case {
    std::string_view name;
    std::string captions;
    std::vector<std::string> paragraphs, timed;
  };
  const Case cases[] = {
      {"auto-captions",
       "WEBVTT\nKind: captions\nLanguage: en\n\n"
       "00:00:01.000 --> 00:00:03.000 align:start position:0%\n \n"
       "so<00:00:01.200><c> time</c><00:00:01.400><c> to</c><00:00:01.600><c> begin</c>\n\n"
       "00:00:03.000 --> 00:00:03.010 align:start position:0%\nso time to begin\n \n\n"
       "00:00:03.010 --> 00:00:05.010 align:start position:0%\nso time to begin\n"
       "wear<00:00:03.210><c> your</c><00:00:03.410><c> gloves</c>\n",
       {"<p>so time to begin wear your gloves</p>"},
       {"<p><time datetime=\"PT1S\">[00:01]</time> so time to begin wear your gloves</p>"}},
      {"voiced",
       std::string(kVoiced),
       {"<p><strong>Instructor:</strong> Cables &amp; wet floors are the two hazards we see most. "
        "Report them.</p>",
        "<p><strong>Ama Mensah:</strong> Even at night?</p>"},
       {}},
      {"growing lines",
       "WEBVTT\n\n00:01:56.432 --> 00:01:56.917\nAn<00:00:04.486><c>d</c>\n\n"
       "00:01:56.917 --> 00:02:01.803\n"
       "And<00:00:01.984><c> there</c><00:00:02.050><c> will be no roll call</c>\n\n"
       "00:02:01.803 --> 00:02:01.870\nAnd there will be no roll call\n\n"
       "00:02:01.870 --> 00:02:01.922\nAnd there will be no roll call\nat\n\n"
       "00:02:01.922 --> 00:02:05.707\nAnd there will be no roll call\n"
       "at<00:00:00.582><c> this time.</c>\n",
       {"<p>And there will be no roll call at this time.</p>"},
       {}},
      {"escapes",
       "WEBVTT\n\n" + Cue(3723, 3724, "<v Tom &amp; &lt;Jerry&gt;>&lt;b&gt; &amp;amp; \"q\"") +
           Cue(3724, 3725, "bell\x07 &#1; \x81 \x80 &#xFFFE; &#x10FFFF; &#xFDCF; &#x10FFFD;") +
           Cue(3725, 3726, ">> Zo\xC3\xAB O'Neil: <b>&lt;/p&gt;</b>"),
       {"<p><strong>Tom &amp; &lt;Jerry&gt;:</strong> &lt;b&gt; &amp;amp; \"q\" " + bell + "</p>",
        "<p><strong>Zo\xC3\xAB O'Neil:</strong> &lt;/p&gt;</p>"},
       {}},
      {"joined without spaces, a marker alone",
       "WEBVTT\n\n" + Cue(1, 2, "\xE4\xBB\x8A\xE6\x97\xA5") +
           Cue(2, 3, "\xE6\x99\xB4\xE3\x80\x82") + Cue(3, 4, "&gt;&gt;") +
           Cue(4, 5, "more &amp; more"),
       {"<p>\xE4\xBB\x8A\xE6\x97\xA5\xE6\x99\xB4\xE3\x80\x82</p>", "<p>more &amp; more</p>"},
       {}},
      // 18 sentences hold 503 characters, but escaped 18 take 666 bytes.
      {"broken after a sentence at 500 characters",
       Cues(30, sentence),
       {"<p>" + Html(Joined("Tom & Jerry ate 1 < 2 pies.", 18)) + "</p>",
        "<p>" + Html(Joined("Tom & Jerry ate 1 < 2 pies.", 12)) + "</p>"},
       {}},
      // 77 cues hold 1000 characters, in 1154 bytes.
      {"broken at 1000 characters",
       Cues(80, cafe),
       {"<p>" + Joined("caf\xC3\xA9 &amp; cr\xC3\xA8me", 77) + "</p>",
        "<p>" + Joined("caf\xC3\xA9 &amp; cr\xC3\xA8me", 3) + "</p>"},
       {}},
  };
  for (const Case& c : cases) {
    for (const bool timed : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (timed ? ", timed" : ""));
      const TranscriptStyle style =
          timed ? TranscriptStyle::kTimedParagraphs : TranscriptStyle::kParagraphs;
      const Written written = ConvertWithPage("x.vtt", c.captions, style, "en");
      const std::vector<std::string> paragraphs = ParagraphsOf(written.page);
      if (!(timed ? c.timed : c.paragraphs).empty()) {
        EXPECT_EQ(paragraphs, timed ? c.timed : c.paragraphs);
      }
      std::vector<std::string> expected;
      for (std::size_t at = 0, end; at < written.transcript.size(); at = end + 2) {
        end = written.transcript.find("\r\n", at);
        if (end != at) expected.push_back(Html(written.transcript.substr(at, end - at)));
      }
      std::vector<std::string> shown;
      for (const std::string& paragraph : paragraphs) shown.push_back(AsTranscript(paragraph));
      EXPECT_EQ(shown, expected);
      // Lines too long to hold, read in small blocks, give the same page;
      // through a pipe, the same paragraphs.
      for (const auto& [block, limit] : {std::pair<std::size_t, std::size_t>{1, 1}, {7, 16}}) {
        EXPECT_EQ(ConvertWithPage("x.vtt", c.captions, style, "en", block, limit).page,
                  written.page)
            << "blocks of " << block << ", lines of " << limit;
        CaptionConverter converter(Native(""), style, block, limit);
        converter.WritePages(timed, "en");
        MemorySource source(c.captions);
        StringSink sink;
        EXPECT_EQ(converter.ConvertStream(source, sink), ConversionResult::kConverted);
        EXPECT_EQ(ParagraphsOf(sink.text), paragraphs) << "a pipe, in blocks of " << block;
      }
    }
  }
}

// Converts the caption file `name` in the captions folder of a course
// package whose manifest holds `manifest` (no package when it is empty), with
// pages in English; returns the transcript and page.
Written ConvertInCourse(std::string_view manifest, std::string_view name, std::string_view captions,
                        TranscriptStyle style = TranscriptStyle::kClean) {
  TempDir dir;
  const fs::path course = dir / (manifest.empty() ? "course" : "course__2024");
  const fs::path folder = course / "media" / "captions";
  WriteFile(folder / Native(name), captions);
  if (!manifest.empty()) WriteFile(course / "imsmanifest.xml", manifest);
  testing::RecordingReporter reporter;
  BatchOptions options;
  options.style = style;
  options.html = true;
  options.language = "en";
  RunBatches(folder.native(), options, reporter);
  EXPECT_EQ(reporter.messages, std::vector<testing::Message>{testing::Completed(folder)});
  const fs::path input = folder / Native(name);
  return {ReadFile(fs::path(input).replace_extension(".txt")),
          ReadFile(fs::path(input).replace_extension(".html"))};
}

std::string LineOf(const std::string& page, std::string_view tag) {
  const std::size_t at = page.find(tag);
  return at == page.npos ? "<none>" : page.substr(at, page.find('\n', at) - at);
}

// The course title as the clean transcript cleans it, without the full stop
// that the transcript's first line may add; else the caption file's name.
TEST(PageHead, TitleAndHeading) {
  struct Case {
    std::string_view manifest, name;
    std::string title, h1, transcript;  // and the transcript's first line
  };
  const std::string cue = "WEBVTT\n\n00:01.000 --> 00:02.000\nHi\n";
  const Case cases[] = {
      {"", "lesson.vtt", "Transcript: lesson", "lesson", "Hi"},
      {"<title>Why wear gloves?</title>", "lesson.vtt",
       "Transcript: lesson \xE2\x80\x93 Why wear gloves?", "Why wear gloves?", "Why wear gloves?"},
      {"<title> He said &quot;go.&quot;\r\n\t</title>", "Q&A.vtt",
       "Transcript: Q&amp;A \xE2\x80\x93 He said \"go.\"", "He said \"go.\"", "He said \"go.\""},
      {"<title>Tom &amp;amp;\n &lt;Jerry&gt;&#7;</title>", "a.b.vtt",
       "Transcript: a.b \xE2\x80\x93 Tom &amp;amp; &lt;Jerry&gt;" + std::string(kFffd),
       "Tom &amp;amp; &lt;Jerry&gt;" + std::string(kFffd), "Tom &amp; <Jerry>\x07."},
      {"<title> \t </title>", "lesson.vtt", "Transcript: lesson", "lesson", "Hi"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.manifest);
    const Written written = ConvertInCourse(c.manifest, c.name, cue);
    EXPECT_EQ(LineOf(written.page, "<title>"), "<title>" + c.title + "</title>");
    EXPECT_EQ(LineOf(written.page, "<h1>"), "<h1>" + c.h1 + "</h1>");
    EXPECT_EQ(written.transcript.substr(0, written.transcript.find("\r\n")), c.transcript);
  }
  // The pipe filter's page has no name.
  for (const std::string_view title : {"", "Safety &amp; you"}) {
    CaptionConverter converter(Native(title), TranscriptStyle::kClean);
    converter.WritePages(false, "");
    MemorySource source(cue);
    StringSink sink;
    EXPECT_EQ(converter.ConvertStream(source, sink), ConversionResult::kConverted);
    const std::string suffix = title.empty() ? "" : " \xE2\x80\x93 Safety &amp; you";
    EXPECT_EQ(LineOf(sink.text, "<title>"), "<title>Transcript" + suffix + "</title>");
    EXPECT_EQ(LineOf(sink.text, "<h1>"),
              title.empty() ? "<h1>Transcript</h1>" : "<h1>Safety &amp; you</h1>");
    EXPECT_EQ(LangOf(sink.text), "und");
    EXPECT_EQ(ParagraphsOf(sink.text), std::vector<std::string>{"<p>Hi</p>"});
  }
}

// The whole page of the voiced example, in a course, from a folder run.
TEST(PageHead, WholePageOfTheVoicedExample) {
  const Written written =
      ConvertInCourse("<manifest><title>Workplace Safety Basics</title></manifest>", "hazards.vtt",
                      kVoiced, TranscriptStyle::kTimedParagraphs);
  EXPECT_EQ(written.transcript,
            "Workplace Safety Basics.\r\n\r\n[00:01] Instructor: Cables & wet floors are the two "
            "hazards we see most. Report them.\r\n\r\n[00:06] Ama Mensah: Even at night?\r\n");
  EXPECT_EQ(written.page,
            "<!DOCTYPE html>\n"
            "<html lang=\"en\">\n"
            "<head>\n"
            "<meta charset=\"utf-8\">\n"
            "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
            "<title>Transcript: hazards \xE2\x80\x93 Workplace Safety Basics</title>\n"
            "<style>\n"
            ":root { color-scheme: light dark; }\n"
            "body { margin: 0 auto; padding: 1em; max-width: 70ch; line-height: 1.5; "
            "overflow-wrap: anywhere; background: #ffffff; color: #1a1a1a; }\n"
            "h1 { line-height: 1.2; }\n"
            "time { color: #4d4d4d; }\n"
            "@media (prefers-color-scheme: dark) {\n"
            "  body { background: #121212; color: #e6e6e6; }\n"
            "  time { color: #b3b3b3; }\n"
            "}\n"
            "@media print {\n"
            "  body { max-width: none; background: #ffffff; color: #000000; }\n"
            "  time { color: #000000; }\n"
            "}\n"
            "</style>\n"
            "</head>\n"
            "<body>\n"
            "<main>\n"
            "<h1>Workplace Safety Basics</h1>\n"
            "<p><time datetime=\"PT1S\">[00:01]</time> <strong>Instructor:</strong> Cables &amp; "
            "wet floors are the two hazards we see most. Report them.</p>\n"
            "<p><time datetime=\"PT6S\">[00:06]</time> <strong>Ama Mensah:</strong> Even at "
            "night?</p>\n"
            "</main>\n"
            "</body>\n"
            "</html>\n");
}

}  // namespace
}  // namespace orvane
