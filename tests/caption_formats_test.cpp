// Clean transcripts of SubRip (.srt) and SBV (.sbv) files: a table of cases
// per format, each checked against the plain reference reading and the
// transcriber, then generated files of either format compared with the
// reference whole and in pieces, in every layout.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "conversion/converter.h"
#include "conversion/transcriber.h"
#include "tests/oracle/clean_reference.h"
#include "tests/test_support.h"

namespace orvane {
namespace {

using oracle::Layout;
using testing::ExpectCueListMatchesReference;
using testing::OracleFormat;
using testing::TranscribeInPieces;

TranscriptStyle StyleOf(Layout layout) {
  switch (layout) {
    case Layout::kLines:
      return TranscriptStyle::kClean;
    case Layout::kParagraphs:
      return TranscriptStyle::kParagraphs;
    case Layout::kTimedParagraphs:
      break;
  }
  return TranscriptStyle::kTimedParagraphs;
}

// `file` fed to `transcriber` in pieces of `piece` bytes, read as `format`.
std::string InPieces(Transcriber& transcriber, CaptionFormat format, std::string_view file,
                     std::size_t piece) {
  transcriber.SetFormat(format);
  return TranscribeInPieces(transcriber, file, piece);
}

struct FormatCase {
  std::string_view name;
  std::string_view input;
  std::string_view transcript;
  Layout layout = Layout::kLines;
};

// Each case must give its transcript from the reference and from the
// transcriber: whole, a byte at a time, and with every line limit up to 64
// (lines held, compared with the cue before by length and hash, or read again).
void ExpectCases(CaptionFormat format, const std::vector<FormatCase>& cases) {
  for (const FormatCase& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << c.name << ": " << ::testing::PrintToString(std::string(c.input)));
    const TranscriptStyle style = StyleOf(c.layout);
    EXPECT_EQ(
        oracle::CleanTranscript(c.input, oracle::Bytes::kAsFed, c.layout, OracleFormat(format)),
        c.transcript);
    EXPECT_EQ(TranscribeCaptions(c.input, style, kNoLineLimit, format), c.transcript);
    std::string limits_that_differ;
    for (std::size_t limit = 1; limit <= 64; ++limit) {
      if (TranscribeCaptions(c.input, style, limit, format) != c.transcript) {
        (limits_that_differ += ' ') += std::to_string(limit);
      }
    }
    EXPECT_EQ(limits_that_differ, "") << "line limits that give another transcript";
    const auto whole = MakeTranscriber(style, kNoLineLimit);
    EXPECT_EQ(InPieces(*whole, format, c.input, 1), c.transcript);
    const auto streamed = MakeTranscriber(style, 1);
    EXPECT_EQ(InPieces(*streamed, format, c.input, 3), c.transcript);
  }
}

TEST(CaptionFormats, SubRipCases) {
  const std::vector<FormatCase> cases = {
      {"numbered cues",
       "1\n00:00:01,000 --> 00:00:02,500\nHello\n\n2\n00:00:03,000 --> 00:00:04,000\nWorld\n",
       "Hello\r\nWorld\r\n"},
      {"CR LF, BOM, no empty line at the end",
       "\xEF\xBB\xBF"
       "1\r\n00:00:01,000 --> 00:00:02,000\r\n{\\an8}Hi\r\nthere\r\n\r\n2\r\n"
       "00:00:03,000 --> 00:00:04,000\r\nYo",
       "Hi\r\nthere\r\nYo\r\n"},
      {"lone CR", "1\r00:00:01,000 --> 00:00:02,000\rA\r\r2\r00:00:03,000 --> 00:00:04,000\rB\r",
       "A\r\nB\r\n"},
      {"no empty line between cues: the number is text of the cue before",
       "1\n00:00:01,000 --> 00:00:02,000\nHi\n2\n00:00:03,000 --> 00:00:04,000\nYo\n",
       "Hi\r\n2\r\nYo\r\n"},
      {"timings with '.', hours left out, or many hours",
       "00:01.000 --> 00:02,000\nA\n\n123:00:03,000-->123:00:04.000 X:1\nB\n", "A\r\nB\r\n"},
      {"timings that do not parse",
       "1\n00:00:1,000 --> 00:00:02,000\nA\n\n2\n00:00:03,000 -> 00:00:04,000\nB\n\n"
       "3\n00:00:05,0000 --> 00:00:06,000\nC\n\n4\n00:00:60,000 --> 00:01:01,000\nD\n",
       ""},
      {"a .srt that is a WebVTT file",
       "WEBVTT\nKind: captions\nLanguage: en\n\n00:00:01.000 --> 00:00:02.000 align:start\n"
       "{\\an8}<c.yellow>Hi</c>\n",
       "Hi\r\n"},
      {"WEBVTT as a first line, then a cue at once",
       "WEBVTT\n00:01.000 --> 00:02.000\nA\n\nWEBVTT\nNOTE x\n00:03.000 --> 00:04.000\nB\n",
       "A\r\nB\r\n"},
      {"WEBVTT with a timing on the same line",
       "WEBVTT 00:01.000 --> 00:02.000\nA\n00:03.000 --> 00:04.000\nB\n", "B\r\n"},
      {"position code and italics", "1\n00:00:01,000 --> 00:00:02,000\n{\\an8}<i>Upstairs</i>\n",
       "Upstairs\r\n"},
      {"codes and tags interleaved",
       "00:01,000 --> 00:02,000\n<i>{\\an8}a</i> {\\pos(10,20)}<b>b{\\i1}</b>c\n", "a bc\r\n"},
      {"a tag opened first takes the code", "00:01,000 --> 00:02,000\na<{\\b>}c\n", "a}c\r\n"},
      {"a code opened first takes the tag", "00:01,000 --> 00:02,000\na{\\<b}>c\n", "a>c\r\n"},
      {"a code inside a tag", "00:01,000 --> 00:02,000\n<i {\\a>b}\n", "b}\r\n"},
      {"a code ends at its first '}'", "00:01,000 --> 00:02,000\n{\\a{\\b}c}\n", "c}\r\n"},
      {"empty code, '}' before a code", "00:01,000 --> 00:02,000\n{\\}x}{\\y}\n", "x}\r\n"},
      {"unclosed code stays text", "00:01,000 --> 00:02,000\na{\\an8 b\n{\\\n",
       "a{\\an8 b\r\n{\\\r\n"},
      {"'<' without '>', then a code", "00:01,000 --> 00:02,000\na < b{\\an8}c\n", "a < bc\r\n"},
      {"an unclosed code, then a tag", "00:01,000 --> 00:02,000\n{\\a <i>b\n", "{\\a b\r\n"},
      {"braces without a backslash, and a backslash before a brace",
       "00:01,000 --> 00:02,000\n{an8}x {b} a\\{c}\n", "{an8}x {b} a\\{c}\r\n"},
      {"a code split by the line end", "00:01,000 --> 00:02,000\n{\\an\n8}x\n", "{\\an\r\n8}x\r\n"},
      {"a code split by CR LF", "00:01,000 --> 00:02,000\r\n<i>{\\an8\r\n}</i>x\r\n",
       "{\\an8\r\n}x\r\n"},
      {"spaces around a code, a line of codes only",
       "00:01,000 --> 00:02,000\na {\\an8} b\n{\\an8}{\\i1} {\\b1}\nc\n", "a b\r\nc\r\n"},
      {"a code is no voice; a voice around a code",
       "00:01,000 --> 00:02,000\n{\\v Ann}Hi\n\n00:03,000 --> 00:04,000\n<v Bob>{\\an8}Yo\n",
       "Hi\r\nBob: Yo\r\n"},
      {"references are not read again for codes",
       "00:01,000 --> 00:02,000\n&#123;\\an8}a &lt;i&gt;{\\i1}b\n", "{\\an8}a <i>b\r\n"},
      {"bytes read before codes are removed", "00:01,000 --> 00:02,000\n\xC3{\\an8}\xA9\n",
       "\xC3\x83\xC2\xA9\r\n"},
      {"a code in a ruby reading",
       "00:01,000 --> 00:02,000\n<ruby>\xE6\xBC\xA2<rt>{\\an8}kan</rt></ruby>{\\an8}!\n",
       "\xE6\xBC\xA2!\r\n"},
      {"a flash of the same line with another code is dropped",
       "1\n00:00:01,000 --> 00:00:02,000\n{\\an8}Hi\n\n2\n00:00:02,000 --> 00:00:02,050\n"
       "{\\an2}Hi\n",
       "Hi\r\n"},
      {"a code holding a time does not make captions rolling",
       "1\n00:00:01,000 --> 00:00:02,000\nso\n\n2\n00:00:02,000 --> 00:00:03,000\n"
       "so{\\00:00:02.500} far\n",
       "so\r\nso far\r\n"},
      {"an inline timestamp does",
       "1\n00:00:01,000 --> 00:00:02,000\nso\n\n2\n00:00:02,000 --> 00:00:03,000\n"
       "so<00:00:02,500> far\n",
       "so far\r\n"},
      {"a line repeated after a text label, then a new one",
       "1\n00:00:01,000 --> 00:00:02,000\nso\n\n2\n00:00:02,000 --> 00:00:03,000\nAnn: so\nfar\n",
       "so\r\nAnn: far\r\n"},
      {"text label after a code",
       "00:01,000 --> 00:02,000\n{\\an8}Ann: Hi there.\n\n00:02,000 --> 00:03,000\n"
       "{\\an8}Bob: Hello.\n",
       "Ann: Hi there.\r\nBob: Hello.\r\n"},
      {"Ctrl-Z", "1\n00:00:01,000 --> 00:00:02,000\nHi\x1A\nthere\n", "Hi\r\n"},
      {"paragraphs with labels after codes",
       "00:01,000 --> 00:02,000\n{\\an8}Ann: Hi there.\n\n00:02,000 --> 00:03,000\n"
       "{\\an8}Bob: Hello.\n{\\an8}How are you?\n",
       "Ann: Hi there.\r\n\r\nBob: Hello. How are you?\r\n", Layout::kParagraphs},
      {"paragraphs: a marker after a code",
       "00:01,000 --> 00:02,000\n{\\an8}>> Ann: Hi\n\n00:02,000 --> 00:03,000\n{\\an8}there\n",
       "Ann: Hi there\r\n", Layout::kParagraphs},
      {"timed paragraphs from SubRip times",
       "1\n01:02:03,456 --> 01:02:04,000\n{\\an8}a\n\n2\n01:02:05,999 --> 01:02:07,000\nb\n\n"
       "3\n01:02:09,000 --> 01:02:10,000\nc\n",
       "[1:02:03] a b\r\n\r\n[1:02:09] c\r\n", Layout::kTimedParagraphs},
  };
  ExpectCases(CaptionFormat::kSubRip, cases);
}

TEST(CaptionFormats, SbvCases) {
  const std::vector<FormatCase> cases = {
      {"two cues", "0:00:01.000,0:00:02.500\nHello\nthere\n\n0:00:03.000,0:00:04.000\nWorld\n",
       "Hello\r\nthere\r\nWorld\r\n"},
      {"no line end at the end", "0:00:01.000,0:00:02.000\nHi", "Hi\r\n"},
      {"CR LF and BOM",
       "\xEF\xBB\xBF"
       "0:00:01.000,0:00:02.000\r\nHi\r\n\r\n0:00:03.000,0:00:04.000\r\nYo\r\n",
       "Hi\r\nYo\r\n"},
      {"lone CR", "0:00:01.000,0:00:02.000\rA\r\r0:00:03.000,0:00:04.000\rB", "A\r\nB\r\n"},
      {"CR, then CR LF: an empty line ends the cue", "0:00:01.000,0:00:02.000\r\nA\r\r\nB\r\n",
       "A\r\n"},
      {"many empty lines", "\n\n\n0:00:01.000,0:00:02.000\nA\n\n\n\n0:00:02.000,0:00:03.000\nB\n\n",
       "A\r\nB\r\n"},
      {"a cue without text", "0:00:01.000,0:00:02.000\n\n0:00:03.000,0:00:04.000\nB\n", "B\r\n"},
      {"spaces and tabs around the timing line",
       " \t0:00:01.000,0:00:02.000 \t\nA\n\n00:00:03.000,00:00:04.000\t\nB\n", "A\r\nB\r\n"},
      {"one to nine digits of hours",
       "000000001:00:00.000,1:00:01.000\nA\n\n999999999:59:59.999,999999999:59:59.999\nB\n",
       "A\r\nB\r\n"},
      {"hours left out",
       "00:01.000,00:02.000\nA\n\n0:00:01.000,00:02.000\nB\n\n:00:01.000,:00:02.000\nC\n", ""},
      {"ten digits of hours",
       "0000000000:00:01.000,0:00:02.000\nA\n\n0:00:01.000,1000000000:00:02.000\nB\n", ""},
      {"60 seconds or minutes", "0:00:60.000,0:01:00.000\nA\n\n0:60:00.000,1:00:00.000\nB\n", ""},
      {"one-digit minutes or seconds", "0:0:01.000,0:00:02.000\nA\n\n0:00:1.000,0:00:02.000\nB\n",
       ""},
      {"two or four digits of fraction",
       "0:00:01.00,0:00:02.000\nA\n\n0:00:01.000,0:00:02.0000\nB\n\n"
       "0:00:01.0000,0:00:02.000\nC\n",
       ""},
      {"',' before the fraction", "0:00:01,000,0:00:02,000\nA\n\n0:00:01.000,0:00:02,000\nB\n", ""},
      {"spaces around the comma",
       "0:00:01.000 ,0:00:02.000\nA\n\n0:00:01.000, 0:00:02.000\nB\n\n"
       "0:00:01.000\t,0:00:02.000\nC\n",
       ""},
      {"something after the timings",
       "0:00:01.000,0:00:02.000 x\nA\n\n0:00:01.000,0:00:02.000x\nB\n\n"
       "0:00:01.000,0:00:02.000,0:00:03.000\nC\n\n0:00:01.000,\nD\n",
       ""},
      {"a WebVTT timing line is no timing line",
       "00:00:01.000 --> 00:00:02.000\nA\n\n0:00:01.000-->0:00:02.000\nB\n", ""},
      {"'-->' in text means nothing",
       "0:00:01.000,0:00:02.000\nA --> B\n00:00:03.000 --> 00:00:04.000\nC\n",
       "A --> B\r\n00:00:03.000 --> 00:00:04.000\r\nC\r\n"},
      {"a timing line after the first line is text",
       "0:00:01.000,0:00:02.000\nA\n0:00:03.000,0:00:04.000\nB\n",
       "A\r\n0:00:03.000,0:00:04.000\r\nB\r\n"},
      {"a line of spaces does not end a block",
       "0:00:01.000,0:00:02.000\nA\n \n0:00:03.000,0:00:04.000\nB\n",
       "A\r\n0:00:03.000,0:00:04.000\r\nB\r\n"},
      {"no identifiers", "1\n0:00:01.000,0:00:02.000\nA\n\n0:00:03.000,0:00:04.000\nB\n", "B\r\n"},
      {"no header", "WEBVTT\n\n0:00:01.000,0:00:02.000\nA\n\nWEBVTT\n0:00:03.000,0:00:04.000\nB\n",
       "A\r\n"},
      {"tags, references, voices; position codes are text",
       "0:00:01.000,0:00:02.000\n<v Ann><i>Hi</i> &amp; bye\n{\\an8}<b>x</b>\n",
       "Ann: Hi & bye\r\n{\\an8}x\r\n"},
      {"text labels",
       "0:00:01.000,0:00:02.000\nDora: Hello\n\n0:00:02.000,0:00:03.000\nDora: Again\n",
       "Dora: Hello\r\nAgain\r\n"},
      {"a line repeated before a text label, then a new one",
       "0:00:01.000,0:00:02.000\nAnn: so\n\n0:00:02.000,0:00:03.000\nso\nfar\n",
       "Ann: so\r\nfar\r\n"},
      {"a flash of 50 ms repeats the cue before",
       "0:00:01.000,0:00:02.000\nHi\n\n0:00:02.000,0:00:02.050\nHi\n", "Hi\r\n"},
      {"51 ms is said again", "0:00:01.000,0:00:02.000\nHi\n\n0:00:02.000,0:00:02.051\nHi\n",
       "Hi\r\nHi\r\n"},
      {"rolling, held 100 ms after",
       "0:00:01.000,0:00:02.000\nso<0:00:01.500> far\n\n0:00:02.100,0:00:03.000\nso far\n",
       "so far\r\n"},
      {"rolling, 101 ms after",
       "0:00:01.000,0:00:02.000\nso<00:01,500> far\n\n0:00:02.101,0:00:03.000\nso far\n",
       "so far\r\nso far\r\n"},
      {"Ctrl-Z", "0:00:01.000,0:00:02.000\nA\x1A\nB\n", "A\r\n"},
      {"paragraphs, a marker and a label",
       "0:00:01.000,0:00:02.000\n>> Ann: Hi\n\n0:00:02.000,0:00:03.000\nthere\n\n"
       "0:00:03.000,0:00:04.000\n>> Who?\n",
       "Ann: Hi there\r\n\r\nWho?\r\n", Layout::kParagraphs},
      {"timed paragraphs from SBV times, a pause of two seconds",
       "1:02:03.999,1:02:05.000\nA.\n\n1:02:06.999,1:02:07.000\nB\n\n1:02:09.000,1:02:10.000\nC\n",
       "[1:02:03] A. B\r\n\r\n[1:02:09] C\r\n", Layout::kTimedParagraphs},
  };
  ExpectCases(CaptionFormat::kSbv, cases);
}

// A caption file of `format` made of the pieces its rules look at: cues whose
// lines are held, said again, rolled up and grown, at gaps and lengths near
// 50, 100 and 2,000 ms, timing lines of every shape the format takes or
// nearly takes, numbers, headers and text between the cues, and text with
// tags, position codes, references, speakers and bytes that are no UTF-8.
std::string RandomCaptions(std::mt19937& engine, CaptionFormat format) {
  static constexpr long long kGaps[] = {-700, 0, 0, 0, 1, 40, 99, 100, 101, 1999, 2000, 2001};
  static constexpr long long kLengths[] = {-1, 0, 10, 50, 51, 100, 1000, 3000};
  static constexpr std::string_view kPieces[] = {
      "so", "so", " time", "ba", "sed on", " the", "x", " ", "\t", "\xC2\xA0", ".", "?\"",
      // Tags and position codes, whole, cut and nested.
      "{\\an8}", "{\\an8}", "{\\i1}", "{\\pos(1,2)}", "{\\", "{", "}", "\\", "{\\a<", "<{\\b>}",
      "<i>", "</i>", "<", ">", "<c.x>", "</c>", "<rt>", "</rt>", "</ruby>", "<font color=\"r\">",
      // Inline timestamps of either kind, and one in a position code.
      "<00:00:01.500>", "<01:02,500>", "<1:00:00.000>", "{\\00:00:01.500}",
      // Speakers, references, bytes.
      "<v Ann>", "<v Bob>", "</v>", "{\\v Cy}", "Ann: ", "Speaker 1: ", ">> ", ">>", "&amp;",
      "&lt;i&gt;", "&#123;\\an8}", "&nbsp;", "\xC3", "\xA9", "\xE4\xBD\xA0\xE5\xA5\xBD",
      // What the other formats read as timings.
      "-->", " --> ", "0:00:01.000,0:00:02.000", "00:00:01,000 --> 00:00:02,000"};
  // Timing lines that do not parse, or that parse only as the other format.
  static constexpr std::string_view kBadSubRip[] = {
      "00:00:1,000 --> 00:00:02,000",  "00:00:01,000 -> 00:00:02,000",
      "00:00:60,000 --> 00:01:00,000", "00:00:01,0000 --> 00:00:02,000",
      "0:00:01.000,0:00:02.000",       "-->"};
  static constexpr std::string_view kBadSbv[] = {
      "00:01.000,00:02.000",      "0000000000:00:01.000,0:00:02.000", "0:00:60.000,0:01:00.000",
      "0:00:01.00,0:00:02.000",   "0:00:01.000,0:00:02.0000",         "0:00:01,000,0:00:02,000",
      "0:00:01.000 ,0:00:02.000", "0:00:01.000, 0:00:02.000",         "0:00:01.000,0:00:02.000 x",
      "0:00:01.000,0:00:02.000,", "00:00:01.000 --> 00:00:02.000"};
  static constexpr std::string_view kBetween[] = {"1", "42",      "WEBVTT",        "NOTE x",
                                                  " ", "{\\an8}", "Kind: captions"};
  static constexpr std::string_view kEnds[] = {"\n", "\n", "\r\n", "\r"};
  const auto next = [&engine](std::size_t below) { return engine() % below; };
  const auto pick = [&next](const auto& from) { return from[next(std::size(from))]; };
  const auto digits = [](long long n, std::size_t width) {
    std::string text = std::to_string(n);
    return std::string(width > text.size() ? width - text.size() : 0, '0') + text;
  };
  const bool sbv = format == CaptionFormat::kSbv;
  // A time as the format writes it, now and then in another form it takes.
  const auto time = [&](long long ms) {
    const std::size_t form = next(8);
    std::string text = digits(ms / 3'600'000, form == 1 ? 1 : form == 2 ? 9 : 2) + ":";
    if (!sbv && form == 3 && ms < 3'600'000) text.clear();  // hours left out
    text += digits(ms / 60'000 % 60, 2) + ":" + digits(ms / 1000 % 60, 2);
    text += sbv || form == 4 ? "." : ",";
    return text + digits(ms % 1000, 3);
  };
  const auto fresh_line = [&] {
    std::string line;
    for (std::size_t piece = 0, pieces = 1 + next(4); piece < pieces; ++piece) {
      line += pick(kPieces);
    }
    return line;
  };
  const std::string_view end = pick(kEnds);
  std::string file;
  if (next(8) == 0) file += "\xEF\xBB\xBF";
  if (!sbv && next(6) == 0) (file += "WEBVTT") += next(2) ? "\nKind: captions\n" : "\n\n";
  long long clock = next(3) == 0 ? 3'599'000 : 0;
  std::vector<std::string> lines;
  for (std::size_t cue = 0, cues = 1 + next(8); cue < cues; ++cue) {
    switch (next(5)) {
      case 0:  // new lines
        lines.clear();
        for (std::size_t line = 0, count = next(4); line < count; ++line) {
          lines.push_back(fresh_line());
        }
        break;
      case 1:  // the same lines, held or said again, now and then with a position code
        if (!lines.empty() && next(2) == 0) lines[next(lines.size())].insert(0, "{\\an8}");
        break;
      case 2:  // rolled up
        if (!lines.empty() && next(2) == 0) lines.erase(lines.begin());
        lines.push_back(fresh_line());
        break;
      default:  // the last line grows, often by a timed word
        if (lines.empty()) lines.emplace_back();
        if (next(2) == 0) ((lines.back() += '<') += time(clock + 500)) += '>';
        lines.back() += pick(kPieces);
        break;
    }
    if (next(4) == 0) (file += pick(kBetween)) += end;  // a number, or stray text
    const long long start = std::max(0LL, clock + pick(kGaps));
    const long long length = pick(kLengths);
    clock = start + length;
    const long long stop = length < 0 ? start / 2 : clock;
    if (next(10) == 0) {
      file += sbv ? pick(kBadSbv) : pick(kBadSubRip);
    } else if (sbv) {
      if (next(8) == 0) file += ' ';
      (file += time(start)) += ',';
      file += time(stop);
      if (next(8) == 0) file += '\t';
    } else {
      (file += time(start)) += " --> ";
      file += time(stop);
      if (next(8) == 0) file += " X:1";
    }
    file += end;
    for (const std::string& line : lines) file += line + std::string(end);
    if (next(6) != 0) file += end;  // most cues end in an empty line
  }
  // Now and then a line end of another kind, or a Ctrl-Z, anywhere.
  if (next(8) == 0) file.insert(next(file.size() + 1), pick(kEnds));
  if (next(16) == 0) file.insert(next(file.size() + 1), 1, '\x1A');
  return file;
}

// `bytes` as UTF-16 code units, one per byte, after a byte order mark.
std::string AsUtf16(std::string_view bytes, bool big_endian) {
  std::string file = big_endian ? "\xFE\xFF" : "\xFF\xFE";
  for (const char c : bytes) {
    file += big_endian ? '\0' : c;
    file += big_endian ? c : '\0';
  }
  return file;
}

// The clean transcript of the stream `file` read as `format` by a converter,
// `block` bytes at a time, without a title.
std::string ConvertStream(std::string_view file, CaptionFormat format, std::size_t block) {
  CaptionConverter converter(NativeString(), TranscriptStyle::kClean, block, 12);
  converter.set_stream_format(format);
  MemorySource source(file);
  StringSink sink;
  EXPECT_EQ(converter.ConvertStream(source, sink), ConversionResult::kConverted);
  return sink.text;
}

// Generated files of both formats, fed whole and in pieces of many sizes to
// transcribers reused from one file and format to the next, with no line
// limit and with a limit of 12 bytes (which makes lines long and reads them
// again), must give the reference transcript in every layout; some also as
// UTF-16 streams to a converter.
TEST(CaptionFormats, MatchReferenceInPieces) {
  std::mt19937 random(8082);
  constexpr Layout kLayouts[] = {Layout::kLines, Layout::kParagraphs, Layout::kTimedParagraphs};
  std::vector<std::unique_ptr<Transcriber>> whole;
  std::vector<std::unique_ptr<Transcriber>> limited;
  for (const Layout layout : kLayouts) {
    whole.push_back(MakeTranscriber(StyleOf(layout), kNoLineLimit));
    limited.push_back(MakeTranscriber(StyleOf(layout), 12));
  }
  for (int i = 0; i < 3000; ++i) {
    const CaptionFormat format = i % 2 == 0 ? CaptionFormat::kSubRip : CaptionFormat::kSbv;
    const std::string file = RandomCaptions(random, format);
    const std::string shown = ::testing::PrintToString(file);
    const char* const name = format == CaptionFormat::kSubRip ? "SubRip " : "SBV ";
    // Without position codes, a SubRip file reads as the same file as WebVTT,
    // whether or not it starts with a WebVTT header.
    if (format == CaptionFormat::kSubRip && file.find("{\\") == file.npos) {
      ASSERT_EQ(oracle::CleanTranscript(file, oracle::Bytes::kAsFed, Layout::kLines,
                                        oracle::Format::kSubRip),
                oracle::CleanTranscript(file, oracle::Bytes::kAsFed))
          << shown;
    }
    ExpectCueListMatchesReference(file, format);
    if (::testing::Test::HasFatalFailure()) return;
    // A converter reads a UTF-16 file as its UTF-8 text, whatever the format.
    if (i % 32 < 4) {
      ExpectCueListMatchesReference(AsUtf16(file, i % 32 >= 2), format);
      if (::testing::Test::HasFatalFailure()) return;
      const std::string utf16 = AsUtf16(file, i % 32 >= 2);
      const std::string expected = oracle::CleanTranscript(utf16, oracle::Bytes::kOfAFile,
                                                           Layout::kLines, OracleFormat(format));
      for (const std::size_t block : {std::size_t{1}, kDefaultReadBlock}) {
        ASSERT_EQ(ConvertStream(utf16, format, block), expected)
            << name << "UTF-16, blocks of " << block << ": " << shown;
      }
    }
    for (std::size_t l = 0; l < std::size(kLayouts); ++l) {
      const std::string expected =
          oracle::CleanTranscript(file, oracle::Bytes::kAsFed, kLayouts[l], OracleFormat(format));
      const TranscriptStyle style = StyleOf(kLayouts[l]);
      ASSERT_EQ(TranscribeCaptions(file, style, kNoLineLimit, format), expected)
          << name << "layout " << l << ": " << shown;
      for (std::size_t piece = 1; piece <= file.size(); ++piece) {
        if (piece > 16 && piece < file.size() && random() % 16 != 0) continue;
        ASSERT_EQ(InPieces(*whole[l], format, file, piece), expected)
            << name << "layout " << l << ", pieces of " << piece << ": " << shown;
        ASSERT_EQ(InPieces(*limited[l], format, file, piece), expected)
            << name << "layout " << l << ", limit 12, pieces of " << piece << ": " << shown;
      }
    }
  }
}

}  // namespace
}  // namespace orvane
