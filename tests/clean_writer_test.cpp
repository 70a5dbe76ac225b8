// The clean transcript in its three layouts: the worked examples as golden
// files, then one table of edge cases each for repeated and growing lines,
// speakers written as text, ">>" speaker changes, and paragraphs with their
// time stamps. Every case is checked against both the plain reference
// reading (CleanReference.*) and the real transcriber (CleanWriter.*).
#include <gtest/gtest.h>

#include <cstddef>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "conversion/transcriber.h"
#include "tests/oracle/clean_reference.h"

namespace orvane {
namespace {

// A caption file and its transcript in each layout (the timed one only where
// the case is about time stamps).
struct LayoutCase {
  std::string name;
  std::string input;
  std::string lines;
  std::string paragraphs;
  std::optional<std::string> timed = std::nullopt;
};

// A cue from `start_ms` to `end_ms` with the text lines `text`.
std::string Cue(long long start_ms, long long end_ms, std::string_view text) {
  const auto time = [](long long ms) {
    // H:MM:SS.mmm: minutes, seconds and milliseconds padded with zeros.
    return std::to_string(ms / 3'600'000) + ":" + std::to_string(100 + ms / 60'000 % 60).substr(1) +
           ":" + std::to_string(100 + ms / 1000 % 60).substr(1) + "." +
           std::to_string(1000 + ms % 1000).substr(1);
  };
  return time(start_ms) + " --> " + time(end_ms) + "\n" + std::string(text) + "\n\n";
}

// Transcript lines, each ending in CR LF.
std::string Lines(std::initializer_list<std::string_view> lines) {
  std::string out;
  for (const std::string_view line : lines) (out += line) += "\r\n";
  return out;
}

// Paragraphs, one empty line between two.
std::string Paragraphs(std::initializer_list<std::string_view> paragraphs) {
  std::string out;
  for (const std::string_view paragraph : paragraphs) {
    if (!out.empty()) out += "\r\n";
    (out += paragraph) += "\r\n";
  }
  return out;
}

std::string Repeat(std::string_view text, std::size_t times) {
  std::string out;
  for (std::size_t i = 0; i < times; ++i) out += text;
  return out;
}

// "first\n...\nlast" with the numbers from `first` to `last`.
std::string Numbers(int first, int last, std::string_view separator = "\n") {
  std::string out;
  for (int i = first; i <= last; ++i) {
    if (i > first) out += separator;
    out += std::to_string(i);
  }
  return out;
}

enum class Checked { kReference, kEngine };

void ExpectTranscripts(const std::vector<LayoutCase>& cases, Checked checked) {
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.name << ", input " << ::testing::PrintToString(c.input));
    const struct {
      const char* what;
      oracle::Layout layout;
      TranscriptStyle style;
      const std::string* expected;
    } layouts[] = {
        {"lines", oracle::Layout::kLines, TranscriptStyle::kClean, &c.lines},
        {"paragraphs", oracle::Layout::kParagraphs, TranscriptStyle::kParagraphs, &c.paragraphs},
        {"timed paragraphs", oracle::Layout::kTimedParagraphs, TranscriptStyle::kTimedParagraphs,
         c.timed ? &*c.timed : nullptr},
    };
    for (const auto& layout : layouts) {
      if (layout.expected == nullptr) continue;
      const std::string transcript =
          checked == Checked::kReference
              ? oracle::CleanTranscript(c.input, oracle::Bytes::kAsFed, layout.layout)
              : TranscribeCaptions(c.input, layout.style);
      EXPECT_EQ(transcript, *layout.expected) << layout.what;
    }
  }
}

std::vector<LayoutCase> Examples() {
  return {
      {"auto-captions",
       "WEBVTT\nKind: captions\nLanguage: en\n\n"
       "00:00:01.000 --> 00:00:03.000 align:start position:0%\n \n"
       "so<00:00:01.200><c> time</c><00:00:01.400><c> to</c><00:00:01.600><c> begin</c>\n\n"
       "00:00:03.000 --> 00:00:03.010 align:start position:0%\nso time to begin\n \n\n"
       "00:00:03.010 --> 00:00:05.010 align:start position:0%\nso time to begin\n"
       "wear<00:00:03.210><c> your</c><00:00:03.410><c> gloves</c>\n",
       Lines({"so time to begin", "wear your gloves"}),
       Paragraphs({"so time to begin wear your gloves"}),
       Paragraphs({"[00:01] so time to begin wear your gloves"})},
      {"styled and voiced",
       "WEBVTT\n\nNOTE Reviewed 2024-03-01\n\nhazards-intro\n"
       "00:00:01.000 --> 00:00:04.000 line:0\n"
       "<v Instructor>Cables &amp; <c.yellow>wet floors</c>\n"
       "are the two <i>hazards</i> we see most.</v>\n\n"
       "00:00:04.000 --> 00:00:06.000\n<v Instructor>Report them.</v>\n\n"
       "00:00:06.000 --> 00:00:08.000\n<v.loud Ama Mensah>Even at night?\n",
       Lines({"Instructor: Cables & wet floors", "are the two hazards we see most.", "Report them.",
              "Ama Mensah: Even at night?"}),
       Paragraphs({"Instructor: Cables & wet floors are the two hazards we see most. Report them.",
                   "Ama Mensah: Even at night?"}),
       Paragraphs({"[00:01] Instructor: Cables & wet floors are the two hazards we see most. "
                   "Report them.",
                   "[00:06] Ama Mensah: Even at night?"})},
      {"live captions that grow",
       "WEBVTT\n\n00:01:56.432 --> 00:01:56.917\nAn<00:00:04.486><c>d</c>\n\n"
       "00:01:56.917 --> 00:02:01.803\n"
       "And<00:00:01.984><c> there</c><00:00:02.050><c> will be no roll call</c>\n\n"
       "00:02:01.803 --> 00:02:01.870\nAnd there will be no roll call\n\n"
       "00:02:01.870 --> 00:02:01.922\nAnd there will be no roll call\nat\n\n"
       "00:02:01.922 --> 00:02:05.707\nAnd there will be no roll call\n"
       "at<00:00:00.582><c> this time.</c>\n",
       Lines({"And there will be no roll call", "at this time."}),
       Paragraphs({"And there will be no roll call at this time."}),
       Paragraphs({"[01:56] And there will be no roll call at this time."})},
      {"said twice",
       "WEBVTT\n\n00:00:05.000 --> 00:00:06.000\n<v Ama>Oh!\n\n"
       "00:00:06.000 --> 00:00:07.000\n<v Ama>Oh!\n\n"
       "00:00:09.500 --> 00:00:11.000\n<v Ama>Look at the floor.\n",
       Lines({"Ama: Oh!", "Oh!", "Look at the floor."}),
       Paragraphs({"Ama: Oh! Oh!", "Look at the floor."}),
       Paragraphs({"[00:05] Ama: Oh! Oh!", "[00:09] Look at the floor."})},
  };
}

// Repeated lines and rolling captions. "<00:01.500>" is an inline timestamp:
// from its cue on, a file is rolling.
std::vector<LayoutCase> RepeatedLineCases() {
  std::vector<LayoutCase> cases = {
      {"said again: not rolling, lasts a second", Cue(1000, 2000, "Oh!") + Cue(2000, 3000, "Oh!"),
       Lines({"Oh!", "Oh!"}), Paragraphs({"Oh! Oh!"})},
      {"held: lasts 50 ms", Cue(1000, 2000, "A") + Cue(2000, 2050, "A"), Lines({"A"}),
       Paragraphs({"A"})},
      {"said again: lasts 51 ms", Cue(1000, 2000, "A") + Cue(2000, 2051, "A"), Lines({"A", "A"}),
       Paragraphs({"A A"})},
      {"held: ends before it starts", Cue(1000, 2000, "A") + Cue(3000, 2500, "A"), Lines({"A"}),
       Paragraphs({"A"})},
      {"held: rolling, starts 100 ms after",
       Cue(1000, 2000, "a<00:01.500>b") + Cue(2100, 3000, "ab"), Lines({"ab"}), Paragraphs({"ab"})},
      {"said again: rolling, starts 101 ms after",
       Cue(1000, 2000, "a<00:01.500>b") + Cue(2101, 3000, "ab"), Lines({"ab", "ab"}),
       Paragraphs({"ab ab"})},
      {"held: rolling, starts before the one before ends",
       Cue(1000, 3000, "a<00:01.500>b") + Cue(2000, 4000, "ab"), Lines({"ab"}), Paragraphs({"ab"})},
      {"rolling from the first inline timestamp on, not before",
       Cue(1000, 2000, "ab") + Cue(2000, 3000, "ab") + Cue(3000, 4000, "ab<00:03.500>"),
       Lines({"ab", "ab"}), Paragraphs({"ab ab"})},
      {"no growth without inline timestamps", Cue(1000, 2000, "so") + Cue(2000, 3000, "something"),
       Lines({"so", "something"}), Paragraphs({"so something"})},
      {"the cue with the first inline timestamp grows",
       Cue(1000, 2000, "so") + Cue(2000, 3000, "so<00:02.500>mething"), Lines({"something"}),
       Paragraphs({"something"})},
      {"an inline timestamp with a comma",
       Cue(1000, 2000, "so<00:01,500>") + Cue(2000, 3000, "so on"), Lines({"so on"}),
       Paragraphs({"so on"})},
      {"tags that are no timestamps",
       Cue(1000, 2000, "so<0000000001:00:01.500><00:01.5000><00:01.500 ><60:00.000>") +
           Cue(2000, 3000, "so on"),
       Lines({"so", "so on"}), Paragraphs({"so so on"})},
      {"inline timestamps outside cue text do not count",
       "WEBVTT\n\nNOTE so<00:01.500>\n\n<00:01.500>\n" + Cue(1000, 2000, "so") +
           "<00:01.500> --> x\n\n" + Cue(2000, 3000, "so on"),
       Lines({"so", "so on"}), Paragraphs({"so so on"})},
      {"a cue without lines makes rolling too",
       Cue(1000, 2000, "so") + Cue(2000, 2500, "<00:02.100>") + Cue(2500, 3000, "so on"),
       Lines({"so on"}), Paragraphs({"so on"})},
      {"growth is a byte prefix; rolling lasts to the end",
       Cue(1000, 2000, "a<00:01.500>") + Cue(3000, 4000, "ba") + Cue(4000, 5000, "based on"),
       Lines({"a", "based on"}), Paragraphs({"a based on"})},
      {"only the last pair grows", Cue(1000, 2000, "A<00:01.500>\nB") + Cue(2000, 3000, "A\nBc"),
       Lines({"A", "Bc"}), Paragraphs({"A Bc"})},
      {"an earlier pair that grew does not match",
       Cue(1000, 2000, "Ab<00:01.500>\nB") + Cue(2000, 3000, "Abc\nB"),
       Lines({"Ab", "B", "Abc", "B"}), Paragraphs({"Ab B Abc B"})},
      {"the largest overlap wins, growth included",
       Cue(1000, 2000, "A<00:01.500>\nA") + Cue(2000, 3000, "A\nAb"), Lines({"A", "Ab"}),
       Paragraphs({"A Ab"})},
      {"a line grows and more follow",
       Cue(1000, 2000, "A<00:01.500>\nB") + Cue(2000, 3000, "Bx\nC"), Lines({"A", "Bx", "C"}),
       Paragraphs({"A Bx C"})},
      {"a cue without lines is passed over",
       Cue(1000, 2000, "A") + Cue(2000, 3000, "<i> </i>") + Cue(3000, 3040, "A"), Lines({"A"}),
       Paragraphs({"A"})},
      {"the hold gap is from the cue of the lines compared",
       Cue(1000, 2000, "A<00:01.500>") + Cue(1500, 3000, "&nbsp;") + Cue(2500, 4000, "A"),
       Lines({"A", "A"}), Paragraphs({"A A"})},
      {"another cue between: said again",
       Cue(1000, 2000, "A") + Cue(2000, 3000, "B") + Cue(3000, 3040, "A"), Lines({"A", "B", "A"}),
       Paragraphs({"A B A"})},
      {"a whole cue held", Cue(1000, 2000, "A\nB") + Cue(2000, 2040, "A\nB") + Cue(3000, 3040, "B"),
       Lines({"A", "B"}), Paragraphs({"A B"})},
      {"a replacement keeps the label and the speaker",
       Cue(1000, 2000, "<v Ann>We<00:01.500> go") + Cue(2000, 3000, "<v Bob>We go on") +
           Cue(3000, 4000, "<v Ann>Next"),
       Lines({"Ann: We go on", "Next"}), Paragraphs({"Ann: We go on Next"})},
  };
  // At most 16 lines overlap.
  const std::string one_to_16 = Numbers(1, 16, " ");
  const std::string one_to_17 = Numbers(1, 17, " ");
  cases.push_back({"16 lines overlap",
                   Cue(1000, 2000, Numbers(1, 16)) + Cue(2000, 3000, Numbers(1, 16) + "\nX"),
                   Numbers(1, 16, "\r\n") + "\r\nX\r\n", Paragraphs({one_to_16 + " X"})});
  cases.push_back({"17 lines do not",
                   Cue(1000, 2000, Numbers(1, 17)) + Cue(2000, 3000, Numbers(1, 17) + "\nX"),
                   Numbers(1, 17, "\r\n") + "\r\n" + Numbers(1, 17, "\r\n") + "\r\nX\r\n",
                   Paragraphs({one_to_17 + " " + one_to_17 + " X"})});
  cases.push_back({"the last 16 of 17 lines overlap",
                   Cue(1000, 2000, Numbers(1, 17)) + Cue(2000, 3000, Numbers(2, 17) + "\nX"),
                   Numbers(1, 17, "\r\n") + "\r\nX\r\n", Paragraphs({one_to_17 + " X"})});
  return cases;
}

// Speakers written as text ("Dora Demszky: Hello") on a cue's first line.
std::vector<LayoutCase> TextLabelCases() {
  std::vector<LayoutCase> cases = {
      {"written back where the speaker changes",
       Cue(1000, 2000, "Dora Demszky: Hello") + Cue(2000, 3000, "Dora Demszky: again"),
       Lines({"Dora Demszky: Hello", "again"}), Paragraphs({"Dora Demszky: Hello again"})},
      {"names the cue's lines without a named voice",
       Cue(1000, 2000, "Ann: one\ntwo\n<v Bob>three</v>\nfour"),
       Lines({"Ann: one", "two", "Bob: three", "Ann: four"}),
       Paragraphs({"Ann: one two", "Bob: three", "Ann: four"})},
      {"only on the first line",
       Cue(1000, 2000, "<v Ann>x") + Cue(2000, 3000, "hello\nAnn: hi\nthere"),
       Lines({"Ann: x", "hello", "Ann: hi", "there"}), Paragraphs({"Ann: x hello Ann: hi there"})},
      {"on the first line left after cleaning",
       Cue(1000, 2000, "<v Ann>x") + Cue(2000, 3000, "<i> </i>\nAnn: hi"), Lines({"Ann: x", "hi"}),
       Paragraphs({"Ann: x hi"})},
      {"a named voice comes first",
       Cue(1000, 2000, "<v Ann>x") + Cue(2000, 3000, "<v Bob>Ann: hi\nthere"),
       Lines({"Ann: x", "Bob: Ann: hi", "there"}), Paragraphs({"Ann: x", "Bob: Ann: hi there"})},
      {"a voice without a name names nobody",
       Cue(1000, 2000, "<v Ann>x") + Cue(2000, 3000, "<v>Ann: hi"), Lines({"Ann: x", "hi"}),
       Paragraphs({"Ann: x hi"})},
      {"repeats are compared without it",
       Cue(1000, 2000, "<v Bob>Hi.") + Cue(2000, 3000, "Ann: Hi.\nthere"),
       Lines({"Bob: Hi.", "Ann: there"}), Paragraphs({"Bob: Hi.", "Ann: there"})},
      {"held with its line", Cue(1000, 2000, "Ann: Hi.") + Cue(2000, 2040, "Ann: Hi."),
       Lines({"Ann: Hi."}), Paragraphs({"Ann: Hi."})},
      {"speakers in paragraphs",
       Cue(1000, 2000, "Ann: a") + Cue(2000, 3000, "Bob: b") + Cue(3000, 4000, "Bob: c") +
           Cue(4000, 5000, "d"),
       Lines({"Ann: a", "Bob: b", "c", "d"}), Paragraphs({"Ann: a", "Bob: b c d"})},
  };
  // What is a label: each line opens a cue after one of "<v Zed>x" (or of
  // the label's name, so that a label read shows as one not written again).
  const struct {
    std::string line;
    std::string name;  // empty: no label
    std::string rest;  // the line as written without its label
  } shapes[] = {
      {"Speaker 1: hi", "Speaker 1", "hi"},
      {"1 Speaker: hi", "", "1 Speaker: hi"},
      {"A B C D: hi", "A B C D", "hi"},
      {"A B C D E: hi", "", "A B C D E: hi"},
      {Repeat("x", 50) + ": hi", Repeat("x", 50), "hi"},
      {Repeat("x", 51) + ": hi", "", Repeat("x", 51) + ": hi"},
      {"Abc " + Repeat("\xC3\xAB", 23) + ": hi", "Abc " + Repeat("\xC3\xAB", 23), "hi"},
      {"Abc " + Repeat("\xC3\xAB", 23) + "x: hi", "", "Abc " + Repeat("\xC3\xAB", 23) + "x: hi"},
      {"Zo\xC3\xAB \xD0\x90\xD0\xBB\xD0\xB8\xD1\x81\xD0\xB0 \xE6\x9D\x8E\xE6\x98\x8E: hi",
       "Zo\xC3\xAB \xD0\x90\xD0\xBB\xD0\xB8\xD1\x81\xD0\xB0 \xE6\x9D\x8E\xE6\x98\x8E", "hi"},
      {"Dr. O'Neil-Smith_2: hi", "Dr. O'Neil-Smith_2", "hi"},
      {"A 'b: hi", "", "A 'b: hi"},
      {"-Ann: hi", "", "-Ann: hi"},
      {"Q&amp;A: hi", "", "Q&A: hi"},
      {"Ann : hi", "", "Ann : hi"},
      {"Note:bring", "", "Note:bring"},
      {"Note: ", "", "Note:"},
      {"Note: x", "Note", "x"},
      {"Time: 10:30", "Time", "10:30"},
      {"http://example.org: hi", "", "http://example.org: hi"},
      {"Ann\t \xC2\xA0Lee:\t&nbsp;hi", "Ann Lee", "hi"},
      {"<b>&#x41;nn</b>: hi", "Ann", "hi"},
  };
  for (const auto& shape : shapes) {
    const std::string voice = shape.name.empty() ? "Zed" : shape.name;
    cases.push_back({"label shape " + shape.line,
                     Cue(1000, 2000, "<v " + voice + ">x") + Cue(2000, 3000, shape.line),
                     Lines({voice + ": x", shape.rest}),
                     Paragraphs({voice + ": x " + shape.rest})});
  }
  return cases;
}

// ">>" speaker changes: in paragraphs only.
std::vector<LayoutCase> MarkerCases() {
  return {
      {"each marker starts a paragraph", Cue(1000, 2000, ">> Hi there.\n>> Hello."),
       Lines({">> Hi there.", ">> Hello."}), Paragraphs({"Hi there.", "Hello."})},
      {"a turn lasts to the next marker",
       Cue(1000, 2000, ">> Ann: Hi.\nHow are you?\n>> Bob: Fine.\nThanks."),
       Lines({">> Ann: Hi.", "How are you?", ">> Bob: Fine.", "Thanks."}),
       Paragraphs({"Ann: Hi. How are you?", "Bob: Fine. Thanks."})},
      {"and to the end of its cue", Cue(1000, 2000, ">> Ann: Hi.") + Cue(2000, 3000, "More."),
       Lines({">> Ann: Hi.", "More."}), Paragraphs({"Ann: Hi. More."})},
      {"a marker forgets the speaker",
       Cue(1000, 2000, "<v Ann>a") + Cue(2000, 3000, ">> b") + Cue(3000, 4000, "<v Ann>c"),
       Lines({"Ann: a", ">> b", "Ann: c"}), Paragraphs({"Ann: a", "b", "Ann: c"})},
      {"never the label of the cue's first line", Cue(1000, 2000, "Ann: a\n>> b\nc"),
       Lines({"Ann: a", ">> b", "c"}), Paragraphs({"Ann: a", "b c"})},
      {"a marker line's named voice; a label after it is text",
       Cue(1000, 2000, "<v Cy>>> Bob: Yo.\nmore</v>\nend"),
       Lines({"Cy: >> Bob: Yo.", "more", "end"}), Paragraphs({"Cy: Bob: Yo. more end"})},
      {"the turn of a repeated marker line",
       Cue(1000, 2000, "<v Cy>>> Bob: Yo.") + Cue(2000, 3000, ">> Bob: Yo.\nHow are you?"),
       Lines({"Cy: >> Bob: Yo.", "How are you?"}),
       Paragraphs({"Cy: Bob: Yo.", "Bob: How are you?"})},
      {"repeats are compared with markers", Cue(1000, 2000, ">> Hi.") + Cue(2000, 2040, "Hi."),
       Lines({">> Hi.", "Hi."}), Paragraphs({"Hi. Hi."})},
      {"a marker alone starts a paragraph without text",
       Cue(1000, 2000, "<v Ann>a") + Cue(5000, 6000, ">>\nb"), Lines({"Ann: a", ">>", "b"}),
       Paragraphs({"Ann: a", "b"}), Paragraphs({"[00:01] Ann: a", "[00:05] b"})},
      {"a paragraph left without text", Cue(1000, 2000, "a\n>>>"), Lines({"a", ">>>"}),
       Paragraphs({"a"}), Paragraphs({"[00:01] a"})},
      {"a marker alone, then a labelled line",
       Cue(1000, 2000, "a") + Cue(2000, 3000, ">>\n<v Bob>b"), Lines({"a", ">>", "Bob: b"}),
       Paragraphs({"a", "Bob: b"})},
      {"a marker alone with a voice", Cue(1000, 2000, "a") + Cue(2000, 3000, "<v Bob>>>\nb"),
       Lines({"a", "Bob: >>", "b"}), Paragraphs({"a", "Bob: b"})},
      {"two or more '>' of the cleaned line", Cue(1000, 2000, "a\n&gt;&gt;&gt;b\n> > c\n>d\n >> e"),
       Lines({"a", ">>>b", "> > c", ">d", ">> e"}), Paragraphs({"a", "b > > c >d", "e"})},
      {"a label needs text after it", Cue(1000, 2000, ">> Ann:"), Lines({">> Ann:"}),
       Paragraphs({"Ann:"})},
      {"a marker line grows",
       Cue(1000, 2000, ">> Ann: We<00:01.500> go") + Cue(2000, 3000, ">> Ann: We go on"),
       Lines({">> Ann: We go on"}), Paragraphs({"Ann: We go on"})},
      {"a growing line loses what the line it replaces lost",
       Cue(1000, 2000, ">> Ann:<00:01.500>") + Cue(2000, 3000, ">> Ann: hi"), Lines({">> Ann: hi"}),
       Paragraphs({"Ann: hi"})},
      {"a marker after the first line's label",
       Cue(1000, 2000, "<v Ann>x") + Cue(2000, 3000, "Ann: >> hi"), Lines({"Ann: x", ">> hi"}),
       Paragraphs({"Ann: x", "hi"})},
  };
}

// Paragraphs: breaks, lengths, joining, and time stamps.
std::vector<LayoutCase> ParagraphCases() {
  const std::string e_acute = "\xC3\xA9";
  const std::string a_500 = Repeat("a", 490) + " " + Repeat("b", 20) + ".";
  std::vector<LayoutCase> cases = {
      {"a gap of 1,999 ms joins, of 2,000 ms breaks",
       Cue(1000, 2000, "a") + Cue(3999, 5000, "b") + Cue(7000, 8000, "c"), Lines({"a", "b", "c"}),
       Paragraphs({"a b", "c"}), Paragraphs({"[00:01] a b", "[00:07] c"})},
      {"the gap is from the last cue that gave a line",
       Cue(1000, 2000, "A") + Cue(3000, 3040, "A") + Cue(4500, 5000, "B"), Lines({"A", "B"}),
       Paragraphs({"A", "B"}), Paragraphs({"[00:01] A", "[00:04] B"})},
      {"a replacing line's cue ends the gap",
       Cue(1000, 2000, "a<00:01.500>") + Cue(2000, 5000, "a b") + Cue(6500, 7000, "c"),
       Lines({"a b", "c"}), Paragraphs({"a b c"}), Paragraphs({"[00:01] a b c"})},
      {"the gap is from the end, even one before the start",
       Cue(1000, 500, "a") + Cue(2500, 3000, "b"), Lines({"a", "b"}), Paragraphs({"a", "b"}),
       Paragraphs({"[00:01] a", "[00:02] b"})},
      {"a cue that starts before the last ended", Cue(1000, 5000, "a") + Cue(2000, 3000, "b"),
       Lines({"a", "b"}), Paragraphs({"a b"}), Paragraphs({"[00:01] a b"})},
      {"a line without a speaker keeps it",
       Cue(1000, 2000, "<v Ann>a") + Cue(2000, 3000, "b") + Cue(3000, 4000, "<v Ann>c"),
       Lines({"Ann: a", "b", "Ann: c"}), Paragraphs({"Ann: a b c"}),
       Paragraphs({"[00:01] Ann: a b c"})},
      {"a new speaker within a cue", Cue(1000, 2000, "<v Ann>a</v>\n<v Bob>b\nc"),
       Lines({"Ann: a", "Bob: b", "c"}), Paragraphs({"Ann: a", "Bob: b c"}),
       Paragraphs({"[00:01] Ann: a", "[00:01] Bob: b c"})},
      {"499 characters that end a sentence (more bytes) join",
       Cue(1000, 2000, Repeat(e_acute, 248) + ".") + Cue(2000, 3000, Repeat(e_acute, 248) + ".") +
           Cue(3000, 4000, "c"),
       Lines({Repeat(e_acute, 248) + ".", Repeat(e_acute, 248) + ".", "c"}),
       Paragraphs({Repeat(e_acute, 248) + ". " + Repeat(e_acute, 248) + ". c"})},
      {"500 characters that end a sentence break",
       Cue(1000, 2000, Repeat("a", 249) + ".") + Cue(2000, 3000, Repeat("a", 248) + ".") +
           Cue(3000, 4000, "c"),
       Lines({Repeat("a", 249) + ".", Repeat("a", 248) + ".", "c"}),
       Paragraphs({Repeat("a", 249) + ". " + Repeat("a", 248) + ".", "c"})},
      {"labels and time stamps are not counted",
       Cue(1000, 2000, "<v Ann>" + Repeat("a", 498) + ".") + Cue(2000, 3000, "<v Ann>b"),
       Lines({"Ann: " + Repeat("a", 498) + ".", "b"}),
       Paragraphs({"Ann: " + Repeat("a", 498) + ". b"}),
       Paragraphs({"[00:01] Ann: " + Repeat("a", 498) + ". b"})},
      {"999 characters join",
       Cue(1000, 2000, Repeat("a", 997)) + Cue(2000, 3000, "b") + Cue(3000, 4000, "c"),
       Lines({Repeat("a", 997), "b", "c"}), Paragraphs({Repeat("a", 997) + " b c"})},
      {"1,000 characters break",
       Cue(1000, 2000, Repeat("a", 998)) + Cue(2000, 3000, "b") + Cue(3000, 4000, "c"),
       Lines({Repeat("a", 998), "b", "c"}), Paragraphs({Repeat("a", 998) + " b", "c"})},
      {"a replacement counts as it reads",
       Cue(1000, 2000, Repeat("a", 490) + "<00:01.500>") + Cue(2000, 3000, a_500) +
           Cue(3000, 4000, "c"),
       Lines({a_500, "c"}), Paragraphs({a_500, "c"})},
      {"a replacement keeps its joining space and its paragraph's time stamp",
       Cue(61000, 62000, "x<00:01.500>") + Cue(62000, 63000, "x\ny") + Cue(64000, 65000, "x\nyz"),
       Lines({"x", "yz"}), Paragraphs({"x yz"}), Paragraphs({"[01:01] x yz"})},
      {"Chinese and Japanese join without spaces",
       Cue(1000, 2000, "\xE4\xBD\xA0\xE5\xA5\xBD\xEF\xBC\x8C") +
           Cue(2000, 3000, "\xE4\xB8\x96\xE7\x95\x8C\xE3\x80\x82") + Cue(3000, 4000, "Hi") +
           Cue(4000, 5000, "\xEC\x95\x88\xEB\x85\x95"),
       Lines({"\xE4\xBD\xA0\xE5\xA5\xBD\xEF\xBC\x8C", "\xE4\xB8\x96\xE7\x95\x8C\xE3\x80\x82", "Hi",
              "\xEC\x95\x88\xEB\x85\x95"}),
       Paragraphs({"\xE4\xBD\xA0\xE5\xA5\xBD\xEF\xBC\x8C\xE4\xB8\x96\xE7\x95\x8C\xE3\x80\x82"
                   "Hi \xEC\x95\x88\xEB\x85\x95"})},
  };
  // A paragraph of 500 characters ending in `end`, then a line: a new
  // paragraph only when `end` ends a sentence.
  const struct {
    std::string end;
    std::size_t characters;
    bool ends_sentence;
  } ends[] = {
      {".", 1, true},
      {"!", 1, true},
      {"?", 1, true},
      {"\xE2\x80\xA6", 1, true},
      {"\xE3\x80\x82", 1, true},
      {"\xEF\xBC\x81", 1, true},
      {"\xEF\xBC\x9F", 1, true},
      {".\"", 2, true},
      {"?'", 2, true},
      {"!\xE2\x80\x9D", 2, true},
      {".\xE2\x80\x99", 2, true},
      {".)", 2, true},
      {"?]", 2, true},
      {"!\xC2\xBB", 2, true},
      {"a", 1, false},
      {",", 1, false},
      {".a", 2, false},
      {".\")", 3, false},
      {"\"", 1, false},
      {"\xC2\xBB", 1, false},
      {";", 1, false},
  };
  for (const auto& end : ends) {
    const std::string text = Repeat("a", 500 - end.characters) + end.end;
    cases.push_back({"a paragraph ending in " + end.end,
                     Cue(1000, 2000, text) + Cue(2000, 3000, "b"), Lines({text, "b"}),
                     end.ends_sentence ? Paragraphs({text, "b"}) : Paragraphs({text + " b"})});
  }
  // A character between two lines: no spaces when it is Chinese or Japanese.
  const struct {
    std::string character;
    bool spaced;
  } characters[] = {
      {"\xE2\xB9\xBF", true},      // U+2E7F
      {"\xE2\xBA\x80", false},     // U+2E80
      {"\xE3\x81\x82", false},     // U+3042
      {"\xE9\xBF\xBF", false},     // U+9FFF
      {"\xEA\x80\x80", true},      // U+A000
      {"\xEA\xB0\x80", true},      // U+AC00, Korean
      {"\xEF\xA3\xBF", true},      // U+F8FF
      {"\xEF\xA4\x80", false},     // U+F900
      {"\xEF\xAB\xBF", false},     // U+FAFF
      {"\xEF\xAC\x80", true},      // U+FB00
      {"\xEF\xBC\x80", false},     // U+FF00
      {"\xEF\xBF\xAF", false},     // U+FFEF
      {"\xEF\xBF\xB0", true},      // U+FFF0
      {"\xF0\xA0\x80\x80", true},  // U+20000
  };
  for (const auto& character : characters) {
    const std::string space = character.spaced ? " " : "";
    cases.push_back(
        {"joining at " + character.character,
         Cue(1000, 2000, "x") + Cue(2000, 3000, character.character) + Cue(3000, 4000, "y"),
         Lines({"x", character.character, "y"}),
         Paragraphs({"x" + space + character.character + space + "y"})});
  }
  // Time stamps: the start of the first line's cue, down to the second.
  const struct {
    std::string start;
    std::string stamp;
  } stamps[] = {
      {"00:00.000", "[00:00] "},
      {"00:01.999", "[00:01] "},
      {"59:59.999", "[59:59] "},
      {"00:59:59.999", "[59:59] "},
      {"1:00:00.000", "[1:00:00] "},
      {"01:00:00,000", "[1:00:00] "},
      {"9:59:59.999", "[9:59:59] "},
      {"10:00:00.000", "[10:00:00] "},
      {"99:59:59.999", "[99:59:59] "},
      {"100:00:00.000", "[100:00:00] "},
      {"000000123:04:05.000", "[123:04:05] "},
      {"999999999:59:59.999", "[999999999:59:59] "},
  };
  for (const auto& stamp : stamps) {
    cases.push_back({"time stamp of " + stamp.start,
                     stamp.start + " --> " + stamp.start + "\nA\n\n" + stamp.start + " --> " +
                         stamp.start + "\n<v B>b\n",
                     Lines({"A", "B: b"}), Paragraphs({"A", "B: b"}),
                     Paragraphs({stamp.stamp + "A", stamp.stamp + "B: b"})});
  }
  return cases;
}

TEST(CleanReference, Examples) { ExpectTranscripts(Examples(), Checked::kReference); }
TEST(CleanReference, RepeatedLines) { ExpectTranscripts(RepeatedLineCases(), Checked::kReference); }
TEST(CleanReference, TextLabels) { ExpectTranscripts(TextLabelCases(), Checked::kReference); }
TEST(CleanReference, SpeakerChangeMarkers) {
  ExpectTranscripts(MarkerCases(), Checked::kReference);
}
TEST(CleanReference, Paragraphs) { ExpectTranscripts(ParagraphCases(), Checked::kReference); }

TEST(CleanWriter, Examples) { ExpectTranscripts(Examples(), Checked::kEngine); }
TEST(CleanWriter, RepeatedLines) { ExpectTranscripts(RepeatedLineCases(), Checked::kEngine); }
TEST(CleanWriter, TextLabels) { ExpectTranscripts(TextLabelCases(), Checked::kEngine); }
TEST(CleanWriter, SpeakerChangeMarkers) { ExpectTranscripts(MarkerCases(), Checked::kEngine); }
TEST(CleanWriter, Paragraphs) { ExpectTranscripts(ParagraphCases(), Checked::kEngine); }

}  // namespace
}  // namespace orvane
