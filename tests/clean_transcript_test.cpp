#include "conversion/transcriber.h"

#include "conversion/converter.h"
#include "conversion/course_title.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/oracle/clean_reference.h"
#include "tests/test_support.h"

namespace orvane {
namespace {

using testing::ExpectCueListMatchesReference;
using testing::TranscribeInPieces;

std::string CleanTranscript(std::string_view captions) {
  return TranscribeCaptions(captions, TranscriptStyle::kClean);
}

TEST(CleanTranscript, AutoCaptionsGolden) {
  const std::string_view captions =
      "WEBVTT\nKind: captions\nLanguage: en\n\n"
      "00:00:01.000 --> 00:00:03.000 align:start position:0%\n \n"
      "so<00:00:01.200><c> time</c><00:00:01.400><c> to</c><00:00:01.600><c> begin</c>\n\n"
      "00:00:03.000 --> 00:00:03.010 align:start position:0%\nso time to begin\n \n\n"
      "00:00:03.010 --> 00:00:05.010 align:start position:0%\nso time to begin\n"
      "wear<00:00:03.210><c> your</c><00:00:03.410><c> gloves</c>\n";
  EXPECT_EQ(CleanTranscript(captions), "so time to begin\r\nwear your gloves\r\n");
}

TEST(CleanTranscript, StyledAndVoicedGolden) {
  const std::string_view captions =
      "WEBVTT\n\nNOTE Reviewed 2024-03-01\n\nhazards-intro\n"
      "00:00:01.000 --> 00:00:04.000 line:0\n"
      "<v Instructor>Cables &amp; <c.yellow>wet floors</c>\n"
      "are the two <i>hazards</i> we see most.</v>\n\n"
      "00:00:04.000 --> 00:00:06.000\n<v Instructor>Report them.</v>\n\n"
      "00:00:06.000 --> 00:00:08.000\n<v.loud Ama Mensah>Even at night?\n";
  EXPECT_EQ(CleanTranscript(captions),
            "Instructor: Cables & wet floors\r\nare the two hazards we see most.\r\n"
            "Report them.\r\nAma Mensah: Even at night?\r\n");
}

struct Case {
  std::string_view input;
  std::string_view transcript;
};

// Each case is checked whole, byte by byte, and against the reference.
TEST(CleanTranscript, Rules) {
  const Case cases[] = {
      // Header variants.
      {"WEBVTT\n\n00:01.000 --> 00:02.000\nHi\n", "Hi\r\n"},
      {"\xEF\xBB\xBFWEBVTT - x\nKind: captions\n\n00:01.000 --> 00:02.000\nHi", "Hi\r\n"},
      {"WEBVTT\n00:01.000 --> 00:02.000\nHi\n", "Hi\r\n"},        // header ends at a timing line
      {"00:01.000 --> 00:02.000\nHi\n", "Hi\r\n"},                // no header (SubRip style)
      {"1\n00:00:01,000 --> 00:00:02,000\nHi\n\n2\n", "Hi\r\n"},  // SubRip
      {"WEBVTTX\nKind\n\n00:01.000 --> 00:02.000\nHi\n", "Hi\r\n"},
      {" WEBVTT\n00:01.000 --> 00:02.000\nHi\n", "Hi\r\n"},  // not a header: an identifier
      {"x\xEF\xBB\xBFWEBVTT\n\n00:01.000 --> 00:02.000\nHi\n", "Hi\r\n"},
      {"\xEF\xBB\xBF\xEF\xBB\xBFWEBVTT\n\n", ""},
      // NOTE, STYLE, REGION and stray text are dropped.
      {"WEBVTT\n\nNOTE a\nb\n\nSTYLE\n::cue {}\n\nREGION\nid:r\n\nstray\n\n00:01.000 --> "
       "00:02.000\nHi\n",
       "Hi\r\n"},
      {"WEBVTT\n\nNOTE x\n00:01.000 --> 00:02.000\nHi\n", "Hi\r\n"},  // NOTE is an identifier
      {"WEBVTT\n\na\nb\n00:01.000 --> 00:02.000\nHi\n", "Hi\r\n"},    // third line starts a block
      // Cues without empty lines between them; identifiers.
      {"00:01.000 --> 00:02.000\nA\n00:02.000 --> 00:03.000\nB\n", "A\r\nB\r\n"},
      {"00:01.000 --> 00:02.000\nA\nid\n00:02.000 --> 00:03.000\nB\n", "A\r\nid\r\nB\r\n"},
      {"id --> x\n00:01.000 --> 00:02.000\nA\n", "A\r\n"},  // bad timing, then a new block
      {"00:01.000 --> 00:02.000\n   \nA\n", "A\r\n"},       // spaces do not end a cue
      // Timings.
      {"\t 00:01.000\t-->\t00:02.000 line:0\nA\n", "A\r\n"},
      {"00:01.000-->00:02.000\nA\n", "A\r\n"},
      {"00:01.000 --> 00:02.000abc\nA\n", "A\r\n"},
      {"123:00:01.000 --> 123:00:02.000\nA\n", "A\r\n"},
      {"00:01,000 --> 00:02.000\nA\n", "A\r\n"},
      {"60:01.000 --> 60:02.000\nA\n", ""},        // 60 minutes
      {"00:60:01.000 --> 00:60:02.000\nA\n", ""},  // 60 minutes after hours
      {"00:01.000 --> 00:60.000\nA\n", ""},        // 60 seconds
      {"00:01.0000 --> 00:02.000\nA\n", ""},       // four-digit fraction
      {"00:01.000 --> 00:02.0001\nA\n", ""},
      {"00:00:01.000 --> 00:00:02.0001\nA\n", ""},                    // the same after hours
      {"00:00:01.000 --> 00:00:60.000\nA\n", ""},                     // 60 seconds after hours
      {"99:00:01,000 --> 99:00:02.000\nA\n", "A\r\n"},                // two-digit hours past 59
      {"999999999:00:01.000 --> 999999999:59:59.999\nA\n", "A\r\n"},  // nine-digit hours
      {"0000000001:00:01.000 --> 1:00:02.000\nA\n", ""},              // hours of ten digits
      {"1:00:01.000 --> 9999999999:00:02.000\nA\n", ""},
      {"00:01.00 --> 00:02.000\nA\n", ""},
      {"0:01.000 --> 00:02.000\nA\n", ""},
      {"1:01:01.000 --> 1:01:02.000\nA\n", "A\r\n"},
      {"00:01.000 -> 00:02.000\nA\n", ""},
      {"00:01.000 --> \nA\n", ""},
      {"x00:01.000 --> 00:02.000\nA\n", ""},
      // Tags.
      {"00:01.000 --> 00:02.000\n<i>a</i> <b>b</b> <u>c</u> <lang en>d</lang>\n", "a b c d\r\n"},
      {"00:01.000 --> 00:02.000\na < b\n", "a < b\r\n"},  // '<' without '>'
      {"00:01.000 --> 00:02.000\na > b <c\n", "a > b <c\r\n"},
      {"00:01.000 --> 00:02.000\n<a <b>c\n", "c\r\n"},  // up to the next '>'
      {"00:01.000 --> 00:02.000\n<\n", "<\r\n"},
      {"00:01.000 --> 00:02.000\n<>\n", ""},
      {"00:01.000 --> 00:02.000\n<ruby>\xE6\xBC\xA2<rt>kan</rt>ji</ruby>\n", "\xE6\xBC\xA2ji\r\n"},
      {"00:01.000 --> 00:02.000\n<ruby>a<rt.x>b</ruby>c\n", "ac\r\n"},
      {"00:01.000 --> 00:02.000\na<rt>b\nc\n", "a\r\nc\r\n"},  // <rt> ends with its line
      {"00:01.000 --> 00:02.000\na<rt>b < c\n", "a\r\n"},
      {"00:01.000 --> 00:02.000\na<RT>b</RT>\n", "ab\r\n"},
      // Spaces that meet where a tag or a ruby reading was removed.
      {"00:01.000 --> 00:02.000\na <i> b\n<i> a</i>\na <rt>x</rt> b\na<b> </b>\n",
       "a b\r\na\r\na b\r\na\r\n"},
      // Character references.
      {"00:01.000 --> 00:02.000\n&amp; &lt;v&gt; &quot;&apos; &#x41;&#X42;&#67;&#x1F600;\n",
       "& <v> \"' ABC\xF0\x9F\x98\x80\r\n"},
      {"00:01.000 --> 00:02.000\n&lrm;&rlm;\n", "\xE2\x80\x8E\xE2\x80\x8F\r\n"},
      {"00:01.000 --> 00:02.000\n&#0; &#xD800; &#x110000; &#; &#x; &AMP; &amp &foo; &#65\n",
       "&#0; &#xD800; &#x110000; &#; &#x; &AMP; &amp &foo; &#65\r\n"},
      {"00:01.000 --> 00:02.000\n&#xD7FF;&#xDFFF;&#xE000;&#x10FFFF;&#1114112;\n",
       "\xED\x9F\xBF&#xDFFF;\xEE\x80\x80\xF4\x8F\xBF\xBF&#1114112;\r\n"},
      {"00:01.000 --> 00:02.000\n&#00000000000000065; &#99999999999999999999;\n",
       "A &#99999999999999999999;\r\n"},
      {"00:01.000 --> 00:02.000\n&&amp;amp;\n", "&&amp;\r\n"},
      {"00:01.000 --> 00:02.000\n&lt;v Bob&gt;Hi\n", "<v Bob>Hi\r\n"},  // not a voice
      // Spaces.
      {"00:01.000 --> 00:02.000\n \t a \xC2\xA0\t b&nbsp;&nbsp;c&#160;d \xC2\n",
       "a b c d \xC3\x82\r\n"},
      // Bytes that are no UTF-8: each a Windows-1252 character, at every edge
      // of UTF-8's lengths.
      {"00:01.000 --> 00:02.000\n\x7F|\xC2\x80|\xDF\xBF|\xE0\xA0\x80|\xEF\xBF\xBF|"
       "\xF0\x90\x80\x80|\xF4\x8F\xBF\xBF\n",
       "\x7F|\xC2\x80|\xDF\xBF|\xE0\xA0\x80|\xEF\xBF\xBF|\xF0\x90\x80\x80|\xF4\x8F\xBF\xBF\r\n"},
      {"00:01.000 --> 00:02.000\n\xC0\x80|\xC1\xBF|\xE0\x9F\xBF|\xED\xA0\x80|\xF0\x8F\xBF\xBF|"
       "\xF4\x90\x80\x80|\xF5|\xF8\x88\x80\x80\x80|\xFF\n",
       "\xC3\x80\xE2\x82\xAC|\xC3\x81\xC2\xBF|\xC3\xA0\xC5\xB8\xC2\xBF|\xC3\xAD \xE2\x82\xAC|"
       "\xC3\xB0\xC2\x8F\xC2\xBF\xC2\xBF|\xC3\xB4\xC2\x90\xE2\x82\xAC\xE2\x82\xAC|\xC3\xB5|"
       "\xC3\xB8\xCB\x86\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC|\xC3\xBF\r\n"},
      {"00:01.000 --> 00:02.000\nCaf\xE9 \x80 \x81\x8D\x8F\x90\x9D \x93q\x94 \xE2\x80\n",
       "Caf\xC3\xA9 \xE2\x82\xAC \xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D "
       "\xE2\x80\x9Cq\xE2\x80\x9D "
       "\xC3\xA2\xE2\x82\xAC\r\n"},
      // Read before tags: a tag between two bytes does not make them one
      // character, and a lone A0 is a no-break space.
      {"00:01.000 --> 00:02.000\n\xC3<i>\xA9</i> a\xA0\xA0"
       "b <v Zo\xEB>x\n",
       "Zo\xC3\xAB: \xC3\x83\xC2\xA9 a b x\r\n"},
      {"00:01.000 --> 00:02.000\n\xC2\xA0\n&nbsp;\n<i> </i>\nA\n", "A\r\n"},
      // No UTF-8 before tags are removed: a lone C2, then a lone no-break space.
      {"00:01.000 --> 00:02.000\n\xC2<i>\xA0</i>x\n", "\xC3\x82 x\r\n"},
      // Repeated lines.
      {"00:01.000 --> 00:02.000\nA\nB\n\n00:02.000 --> 00:03.000\nB\nC\n\n"
       "00:03.000 --> 00:03.050\nB\nC\n\n00:04.000 --> 00:05.000\nA\n",
       "A\r\nB\r\nC\r\nA\r\n"},  // a flash that repeats the cue before is dropped
      {"00:01.000 --> 00:02.000\nA\nA\n\n00:02.000 --> 00:03.000\nA\nA\nA\nB\n",
       "A\r\nA\r\nA\r\nB\r\n"},
      {"00:01.000 --> 00:02.000\nA\n\n00:02.000 --> 00:03.000\n<i> </i>\n\n"
       "00:03.000 --> 00:03.001\nA\n\nNOTE A\n\n00:04.000 --> 00:04.050\nA\n",
       "A\r\n"},  // cues without lines and other blocks do not count
      {"00:01.000 --> 00:02.000\nA\nA\nA\n\n00:02.000 --> 00:03.000\nA\nA\nB\n",
       "A\r\nA\r\nA\r\nB\r\n"},
      {"00:01.000 --> 00:02.000\nA\n\n00:02.000 --> 00:03.000\nB\n\n"
       "00:03.000 --> 00:04.000\nA\n",
       "A\r\nB\r\nA\r\n"},
      {"00:01.000 --> 00:02.000\n<b>A</b>\n\n00:02.000 --> 00:03.000\n A&#32;\n",
       "A\r\nA\r\n"},  // said again: it lasts a second
      // Speakers.
      {"00:01.000 --> 00:02.000\n<v Ann>a\nb</v>\nc\n<v Ann>d\n", "Ann: a\r\nb\r\nc\r\nAnn: d\r\n"},
      {"00:01.000 --> 00:02.000\nx <v Ann>a</v> <v Bob>b\n<v Cy>c\n",
       "Ann: x a b\r\nBob: c\r\n"},  // the first voice opening on a line
      {"00:01.000 --> 00:02.000\n<v Ann>a\n\n00:02.000 --> 00:03.000\nb\n\n"
       "00:03.000 --> 00:04.000\n<v Ann>c\n",
       "Ann: a\r\nb\r\nAnn: c\r\n"},  // a voice ends with its cue
      {"00:01.000 --> 00:02.000\n<v Ann>a\n\n00:02.000 --> 00:03.000\n<v Ann>a\nb\n",
       "Ann: a\r\nb\r\n"},  // a repeated line is not written, so it sets no label
      {"00:01.000 --> 00:02.000\n<v>a</v>\n<v.x.y \t Ann \xC2\xA0 Lee\t>b\n<v Ann Lee>c\n",
       "a\r\nAnn Lee: b\r\nc\r\n"},
      {"00:01.000 --> 00:02.000\n<v Ann><v>a\n<v Tom &amp; Jo>b\n<v.Ann>c\n<vx Bob>d\n",
       "Ann: a\r\nb\r\nTom & Jo: c\r\nd\r\n"},                  // open at the start wins
      {"00:01.000 --> 00:02.000\n<v Ann>\nb\n", "Ann: b\r\n"},  // opened on a dropped line
      {"00:01.000 --> 00:02.000\n<v Ann></v>b\n", "Ann: b\r\n"},
      {"00:01.000 --> 00:02.000\n<V Ann>b\n", "b\r\n"},
      // Reading: line ends, Ctrl-Z, empty files.
      {"00:01.000 --> 00:02.000\rA\rB\r\n\r\n00:02.000 --> 00:03.000\r\nC", "A\r\nB\r\nC\r\n"},
      {"00:01.000 --> 00:02.000\r\nA\r\r\nB\n", "A\r\n"},  // CR, then CR LF: an empty line
      {"00:01.000 --> 00:02.000\nA\x1A\nB\n", "A\r\n"},
      {"00:01.000 --> 00:02.000\nA\r\x1A", "A\r\n"},
      {"\x1A"
       "00:01.000 --> 00:02.000\nA\n",
       ""},
      {"", ""},
      {"WEBVTT", ""},
      {std::string_view("00:01.000 --> 00:02.000\na\0b\n", 28), std::string_view("a\0b\r\n", 5)},
  };
  // Also with every line too long to hold, compared by hash and read again.
  const auto whole = MakeTranscriber(TranscriptStyle::kClean, kNoLineLimit);
  const auto streamed = MakeTranscriber(TranscriptStyle::kClean, 1);
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << "input: " << ::testing::PrintToString(std::string(c.input)));
    EXPECT_EQ(CleanTranscript(c.input), c.transcript);
    EXPECT_EQ(TranscribeInPieces(*whole, c.input, 1), c.transcript);
    EXPECT_EQ(TranscribeInPieces(*streamed, c.input, 3), c.transcript);
    EXPECT_EQ(oracle::CleanTranscript(c.input, oracle::Bytes::kAsFed), c.transcript);
  }
}

TEST(CleanTranscript, TitleLines) {
  const Case cases[] = {
      {"Workplace Safety", "Workplace Safety.\r\n\r\n"},
      {" \t\r\n Safety \xC2\xA0&amp;&#10; Health\n", "Safety & Health.\r\n\r\n"},
      {"&lt;b&gt; <b>A</b> &nbsp;&#x1F600;&bogus;",
       "<b> <b>A</b> \xF0\x9F\x98\x80&bogus;.\r\n\r\n"},
      {"&nbsp;\r\n&#160;", ""},
      {"", ""},
      // A title that ends a sentence gets no second full stop.
      {"Why wear gloves?", "Why wear gloves?\r\n\r\n"},
      {"He said \"go.\"", "He said \"go.\"\r\n\r\n"},
      {"au travail.", "au travail.\r\n\r\n"},
      {"(Safety first!)  ", "(Safety first!)\r\n\r\n"},
      {"Wait\xE2\x80\xA6\xE2\x80\x9D", "Wait\xE2\x80\xA6\xE2\x80\x9D\r\n\r\n"},
      {"\xE5\xAE\x89\xE5\x85\xA8\xE3\x80\x82", "\xE5\xAE\x89\xE5\x85\xA8\xE3\x80\x82\r\n\r\n"},
      {"Stop&#x3F;", "Stop?\r\n\r\n"},
      {"Two closers.\")", "Two closers.\").\r\n\r\n"},
      {"A quote 'x'", "A quote 'x'.\r\n\r\n"},
      {"Version 2.0 ", "Version 2.0.\r\n\r\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MakeCleanTitleLines(c.input), c.transcript) << c.input;
    EXPECT_EQ(oracle::CleanTitle(c.input), c.transcript) << c.input;
    // Too long to hold: read again from the manifest, a few bytes at a time,
    // in either style, references and runs of spaces across the pieces.
    testing::TempDir dir;
    testing::WriteFile(dir / "imsmanifest.xml", "<title>" + std::string(c.input) + "</title>");
    const CourseTitle title = FindCourseTitle(dir.path().native(), 2, 1);
    if (c.input.empty()) continue;
    ASSERT_FALSE(title.held()) << c.input;
    for (const TranscriptStyle style : {TranscriptStyle::kClean, TranscriptStyle::kDefault}) {
      const std::string expected = style == TranscriptStyle::kClean
                                       ? MakeCleanTitleLines(c.input)
                                       : MakeTitleLine(platform::FromNarrow(c.input));
      for (const std::size_t piece : {1, 2, 3, 7}) {
        std::vector<char> buffer(piece);
        StringSink sink;
        EXPECT_EQ(WriteTitleLines(title, style, buffer, sink), OutputResult::kWritten);
        EXPECT_EQ(sink.text, expected) << c.input << ", pieces of " << piece;
      }
    }
  }
}

// Cues that follow each other in time, for what compares cues and lays
// lines out: lines held, said again, rolled up and grown by bytes, new lines,
// inline timestamps, voices, text labels and ">>" markers, sentences short and
// long (paragraphs end near 500 and 1,000 characters), Chinese text, at gaps
// and lengths near the 50, 100 and 2,000 ms that matter, and at hours of one
// to nine digits and past nine.
std::string TimedCaptions(std::mt19937& engine) {
  static constexpr long long kStarts[] = {0,           3'599'000,         35'999'000,
                                          359'999'000, 3'599'999'999'000, 3'599'999'999'999'000};
  static constexpr long long kGaps[] = {-700, 0, 0, 0, 1, 40, 99, 100, 101, 1999, 2000, 2001};
  static constexpr long long kLengths[] = {-1, 0, 10, 50, 51, 100, 1000, 3000};
  static constexpr std::string_view kPieces[] = {
      "so", "so", " time", "ba", "sed on", " the", "x", " ", "\t",
      // Inline timestamps, and tags that are none.
      "<00:00:01.500>", "<01:02,500>", "<999999999:59:59.999>", "<1000000000:00:00.000>",
      "<00:01.5000>", "<c>", "</c>", "<i>",
      // Speakers: voices, text labels, markers.
      "<v Ann>", "<v Bob>", "<v>", "</v>",
      "Ann: ", "Speaker 1: ", "Zo\xC3\xAB Lee: ", "A B C D E: ", "Note:", ">> ", ">> ", ">>", ">>>",
      "&gt;&gt; ", ">",
      // Chinese, Korean, sentence ends.
      "\xE4\xBD\xA0\xE5\xA5\xBD", "\xE3\x80\x82", "\xEC\x95\x88", "\xEF\xBC\x81", ".", ".", "?\"",
      "!", "\xE2\x80\xA6", ")",
      // Character references at the edges of UTF-8's lengths.
      "&#x7F;", "&#x80;", "&#x7FF;", "&#x800;", "&#xFFFF;", "&#x10000;", "&#x10FFFF;",
      "&#x110000;"};
  // Long ones, with and without a sentence end, for paragraphs of 500 and
  // 1,000 characters.
  static constexpr std::string_view kLong[] = {
      "Cables and wet floors are the two hazards we see most often, so report them the moment "
      "you see them, day or night.",
      "and when the floor is wet the cables that run across it become a hazard of their own, "
      "because water and electricity meet where nobody expects them to meet and nobody has "
      "looked at the plugs since the building opened",
      "Who checks the plugs on the night shift?\"", "and then the ones in the corridor",
      "\xE8\xAF\xB7\xE5\xB0\x8F\xE5\xBF\x83\xE5\x9C\xB0\xE6\x9D\xBF\xE3\x80\x82"};
  const auto next = [&engine](std::size_t below) { return engine() % below; };
  const auto pick = [&next](const auto& from) { return from[next(std::size(from))]; };
  const auto digits = [](long long n, std::size_t width) {
    std::string text = std::to_string(n);
    return std::string(width > text.size() ? width - text.size() : 0, '0') + text;
  };
  // In any form a timing line may take, now and then with hours past nine digits.
  const auto time = [&](long long ms) {
    const long long hours = ms / 3'600'000;
    const std::size_t form = next(12);
    std::string text;
    if (hours > 0 || form != 0) text += digits(hours, form == 1 ? 2 : form == 2 ? 10 : 1) + ":";
    text += digits(ms / 60'000 % 60, 2) + ":" + digits(ms / 1000 % 60, 2);
    text += form == 3 ? "," : ".";
    text += digits(ms % 1000, 3);
    return text;
  };
  // Some files are long text, with few pauses.
  const bool long_text = next(3) == 0;
  const auto fresh_line = [&] {
    std::string line;
    for (std::size_t piece = 0, pieces = 1 + next(4); piece < pieces; ++piece) {
      line += long_text && next(3) != 0 ? pick(kLong) : pick(kPieces);
    }
    return line;
  };
  std::string file = "WEBVTT\n\n";
  long long clock = pick(kStarts);
  std::vector<std::string> lines;
  for (std::size_t cue = 0, cues = 1 + next(long_text ? 16 : 10); cue < cues; ++cue) {
    switch (next(5)) {
      case 0:  // new lines
        lines.clear();
        for (std::size_t line = 0, count = next(4); line < count; ++line) {
          lines.push_back(fresh_line());
        }
        break;
      case 1:  // the same lines, held or said again
        break;
      case 2:  // rolled up
        if (!lines.empty() && next(2) == 0) lines.erase(lines.begin());
        lines.push_back(fresh_line());
        break;
      default:  // the last line grows, often by a timed word
        if (lines.empty()) lines.emplace_back();
        if (next(2) == 0) lines.back() += "<" + time(clock + 500) + ">";
        lines.back() += long_text && next(2) == 0 ? pick(kLong) : pick(kPieces);
        break;
    }
    if (next(8) == 0) lines.insert(lines.begin() + next(lines.size() + 1), next(2) ? " " : "<i>");
    const long long start = std::max(0LL, clock + (long_text && next(2) == 0 ? 0 : pick(kGaps)));
    const long long length = pick(kLengths);
    clock = start + length;
    file += time(start) + " --> " + time(length < 0 ? start / 2 : clock) + "\n";
    for (const std::string& line : lines) file += line + "\n";
    file += "\n";
  }
  return file;
}

// A caption file of the pieces that the rules look at, mostly shaped as
// cues so that the later rules get to run.
std::string RandomCaptions(std::mt19937& engine) {
  static constexpr std::string_view kTimings[] = {"00:01.000 --> 00:02.000",
                                                  "00:00:01.000 --> 00:00:02.000 align:start",
                                                  "1:00:01,500-->00:02.000",
                                                  "\t00:01.000 -->  00:02.000x",
                                                  "60:01.000 --> 00:02.000",
                                                  "00:01.000 --> 00:02.0001",
                                                  "00:01.00 --> 00:02.000",
                                                  "9:59:59.999 --> 10:00:00.000",
                                                  "999999999:59:59.999 --> 0:00.000",
                                                  "0:59:59.999 --> 1000000000:00:00.000",
                                                  "-->",
                                                  "a --> b"};
  static constexpr std::string_view kTokens[] = {
      "WEBVTT", "NOTE", "-->", "00:01.000", "00:00:02,000", "00:60.000", "00:01.0000", "<v Ann>",
      "<v.loud A B>", "<v>", "</v>", "<rt>", "</rt>", "<ruby>", "</ruby>", "<c.x>", "</c>", "<i>",
      "<00:01.500>", "<1:00:00,000>", "Ann: ", "A B: ", ">>", ">> ", "&gt;", "&amp;", "&#x41;",
      "&#65;", "&#0;", "&nbsp;", "&lt;v&gt;", "&", "#", ";", "<", ">", ".", ":", "\r", "\n", "\r\n",
      " ", "  ", "\t", "\xC2\xA0", "\xC2", "\xA0", "\xEF\xBB\xBF",
      // At the edges of UTF-8's lengths, as bytes and as references, cut
      // sequences, and no UTF-8 at all.
      "\xDF\xBF", "\xE0\xA0\x80", "\xEF\xBF\xBF", "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF", "&#x7F;",
      "&#x80;", "&#x7FF;", "&#x800;", "&#xFFFF;", "&#x10000;", "&#x10FFFF;", "&#x110000;",
      "\xF4\x90", "\xED\xA0", "\xE2\x80", "\xC0", "\x80", "\xE9", "\xFA", "\xE4\xBD\xA0",
      "\xE3\x80\x82", "1", "42", "so", "time", "A", "B", "Ann"};
  static constexpr std::string_view kWords[] = {"A", "B", "A B", " "};
  static constexpr std::string_view kEnds[] = {"\n", "\r\n", "\r"};
  const auto next = [&engine](std::size_t below) { return engine() % below; };
  const auto pick = [&next](const auto& from) { return from[next(std::size(from))]; };
  std::string file;
  const std::size_t shape = next(8);
  if (shape < 3) return TimedCaptions(engine);
  if (shape == 3) {
    // Rolling captions: cues of up to 12 lines of two kinds, which repeat
    // each other's lines in many ways.
    file = "WEBVTT\n";
    for (std::size_t cue = 0, cues = 1 + next(6); cue < cues; ++cue) {
      file += next(3) == 0 ? "\n00:01.000 --> 00:01.040\n" : "\n00:01.000 --> 00:02.000\n";
      for (std::size_t line = 0, lines = next(13); line < lines; ++line) {
        file += next(4) != 0 ? "A\n" : next(2) ? "B\n" : "A<00:01.500>B\n";
      }
    }
    return file;
  }
  if (next(4) != 0) file += next(3) == 0 ? "\xEF\xBB\xBFWEBVTT" : "WEBVTT";
  for (std::size_t part = 0, parts = 1 + next(8); part < parts; ++part) {
    file += pick(kEnds);
    if (next(2) == 0) file += pick(kEnds);                     // an empty line
    if (next(4) == 0) (file += pick(kTokens)) += pick(kEnds);  // identifier or stray text
    if (next(5) != 0) (file += pick(kTimings)) += pick(kEnds);
    // Text lines of few tokens, so that cues often repeat each other's lines.
    for (std::size_t line = 0, lines = next(3) == 0 ? next(8) : next(4); line < lines; ++line) {
      for (std::size_t token = 0, tokens = next(5); token < tokens; ++token) {
        file += next(2) == 0 ? pick(kTokens) : pick(kWords);
      }
      if (next(3) == 0) file += pick(kWords);  // whole lines that cues may repeat
      if (line + 1 < lines) file += pick(kEnds);
    }
  }
  if (next(16) == 0) file.insert(next(file.size() + 1), 1, '\x1A');
  return file;
}

// Generated files, each fed whole and in pieces of every size (of the first
// hundred sizes, and some larger, for long files) to reused transcribers,
// with no line limit and with limits that make lines long, must give the
// reference transcript in `layout`.
void ExpectReferenceInPieces(TranscriptStyle style, oracle::Layout layout) {
  std::mt19937 random(20260);
  const auto whole = MakeTranscriber(style, kNoLineLimit);
  const auto limited = MakeTranscriber(style, 12);
  for (int i = 0; i < 3000; ++i) {
    const std::string file = RandomCaptions(random);
    const std::string expected = oracle::CleanTranscript(file, oracle::Bytes::kAsFed, layout);
    ASSERT_EQ(TranscribeCaptions(file, style), expected) << ::testing::PrintToString(file);
    for (std::size_t piece = 1; piece <= file.size(); ++piece) {
      if (piece > 100 && piece < file.size() && random() % 16 != 0) continue;
      ASSERT_EQ(TranscribeInPieces(*whole, file, piece), expected)
          << "pieces of " << piece << ": " << ::testing::PrintToString(file);
      ASSERT_EQ(TranscribeInPieces(*limited, file, piece), expected)
          << "limit 12, pieces of " << piece << ": " << ::testing::PrintToString(file);
    }
  }
}

// The cue list, the reader's cues whole, of generated files and of their
// UTF-16 forms, must be the reference's reading.
TEST(CleanTranscript, CueListMatchesReference) {
  std::mt19937 random(20261);
  for (int i = 0; i < 3000; ++i) {
    const std::string file = RandomCaptions(random);
    ExpectCueListMatchesReference(file, CaptionFormat::kWebVtt);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

TEST(CleanTranscript, MatchesReferenceInPiecesOfEverySize) {
  ExpectReferenceInPieces(TranscriptStyle::kClean, oracle::Layout::kLines);
}

TEST(CleanTranscript, ParagraphsMatchReferenceInPiecesOfEverySize) {
  ExpectReferenceInPieces(TranscriptStyle::kParagraphs, oracle::Layout::kParagraphs);
}

TEST(CleanTranscript, TimedParagraphsMatchReferenceInPiecesOfEverySize) {
  ExpectReferenceInPieces(TranscriptStyle::kTimedParagraphs, oracle::Layout::kTimedParagraphs);
}

// `units` as UTF-16 bytes after a byte order mark, little- or big-endian.
std::string Utf16(const std::vector<char16_t>& units, bool big_endian) {
  std::string bytes = big_endian ? "\xFE\xFF" : "\xFF\xFE";
  for (const char16_t unit : units) {
    const char high = static_cast<char>(unit >> 8);
    const char low = static_cast<char>(unit & 0xFF);
    bytes += big_endian ? high : low;
    bytes += big_endian ? low : high;
  }
  return bytes;
}

// Converts `file` as a folder run would, reading it `block` bytes at a time.
std::string Convert(std::string_view file, std::size_t block, std::size_t line_limit) {
  CaptionConverter converter(NativeString(), TranscriptStyle::kClean, block, line_limit);
  MemorySource source(file);
  StringSink sink;
  EXPECT_EQ(converter.ConvertStream(source, sink), ConversionResult::kConverted);
  return sink.text;
}

// A UTF-16 file is read as its UTF-8 text: fixed cases, then generated files
// with every byte as a code unit, in both byte orders and blocks of any size,
// against the reference.
TEST(CleanTranscript, Utf16FilesReadAsTheirText) {
  const auto text = [](std::u16string_view s) { return std::vector<char16_t>(s.begin(), s.end()); };
  struct Utf16Case {
    std::string_view name;
    std::vector<char16_t> units;
    std::string transcript;
  };
  const std::u16string_view cue = u"00:01.000 --> 00:02.000\n";
  const std::u16string lone_high(1, char16_t{0xD800});
  const std::u16string lone_low(1, char16_t{0xDC00});
  const Utf16Case cases[] = {
      {"plain",
       text(u"WEBVTT\n\n00:01.000 --> 00:02.000\n<v Zo\u00EB>Caf\u00E9 \u2014 \U0001F600</v>\n"),
       "Zo\xC3\xAB: Caf\xC3\xA9 \xE2\x80\x94 \xF0\x9F\x98\x80\r\n"},
      {"mark again", text(std::u16string(u"\uFEFF") + u"WEBVTT\n\n" + std::u16string(cue) + u"A\n"),
       "A\r\n"},
      {"unpaired",
       text(std::u16string(cue) + u"a" + lone_high + u"b" + lone_low + u"c" + lone_high),
       "a\xEF\xBF\xBD"
       "b\xEF\xBF\xBD"
       "c\xEF\xBF\xBD\r\n"},
      {"Ctrl-Z", text(std::u16string(cue) + u"A" + std::u16string(1, char16_t{0x1A}) + u"B\n"),
       "A\r\n"},
      {"empty", {}, ""},
  };
  for (const Utf16Case& c : cases) {
    for (const bool big_endian : {false, true}) {
      EXPECT_EQ(Convert(Utf16(c.units, big_endian), kDefaultReadBlock, kDefaultLineLimit),
                c.transcript)
          << c.name << (big_endian ? ", big-endian" : "");
    }
  }
  std::string odd = Utf16(text(std::u16string(cue) + u"A"), false) + "\x42";
  EXPECT_EQ(Convert(odd, 3, kDefaultLineLimit), "A\xEF\xBF\xBD\r\n") << "a last odd byte";
  EXPECT_EQ(oracle::CleanTranscript(odd), "A\xEF\xBF\xBD\r\n");

  std::mt19937 random(1616);
  for (int i = 0; i < 300; ++i) {
    const std::string captions = RandomCaptions(random);
    std::vector<char16_t> units;
    for (const char c : captions) units.push_back(static_cast<unsigned char>(c));
    const std::string file = Utf16(units, i % 2 == 1);
    const std::string expected = oracle::CleanTranscript(file);
    for (const std::size_t block :
         {std::size_t{1}, std::size_t{2}, std::size_t{5}, kDefaultReadBlock}) {
      ASSERT_EQ(Convert(file, block, 12), expected)
          << "blocks of " << block << ": " << ::testing::PrintToString(captions);
    }
  }
}

// Feed reports the end of the input at a Ctrl-Z and ignores what follows.
TEST(CleanTranscript, StopsAtCtrlZ) {
  const auto transcriber = MakeTranscriber(TranscriptStyle::kClean, kNoLineLimit);
  MemorySource source("");
  EXPECT_TRUE(transcriber->Feed("00:01.000 --> 00:02.000\nA", source));
  EXPECT_FALSE(
      transcriber->Feed("B\x1A"
                        "C\n",
                        source));
  EXPECT_FALSE(transcriber->Feed("D\n", source));
  transcriber->Finish(source);
  EXPECT_EQ(transcriber->output().bytes, "AB\r\n");
}

}  // namespace
}  // namespace orvane
