// reference-cues FORMAT FILE...: prints, for each caption file read as FORMAT
// (vtt, srt or sbv), one line of JSON: its cues as the plain reference reads
// them, [[start ms, end ms, [[text, speaker or null], ...]], ...].
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <string_view>

#include "tests/oracle/clean_reference.h"

namespace {

// `text` as a JSON string; its bytes are UTF-8, passed on as they are.
std::string Json(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + '"';
}

}  // namespace

int main(int argc, char** argv) {
  using orvane::oracle::Format;
  if (argc < 2) {
    std::cerr << "usage: reference-cues vtt|srt|sbv FILE...\n";
    return 2;
  }
  const std::string_view name = argv[1];
  const Format format = name == "srt"   ? Format::kSubRip
                        : name == "sbv" ? Format::kSbv
                                        : Format::kWebVtt;
  for (int i = 2; i < argc; ++i) {
    std::ifstream file(argv[i], std::ios::binary);
    if (!file) {
      std::cerr << "reference-cues: cannot read " << argv[i] << "\n";
      return 1;
    }
    const std::string bytes{std::istreambuf_iterator<char>(file), {}};
    std::string line = "[";
    for (const auto& cue :
         orvane::oracle::CleanCues(bytes, orvane::oracle::Bytes::kOfAFile, format)) {
      if (line.size() > 1) line += ',';
      line += '[' + std::to_string(cue.start) + ',' + std::to_string(cue.end) + ",[";
      for (std::size_t l = 0; l < cue.lines.size(); ++l) {
        const auto& [text, speaker] = cue.lines[l];
        if (l != 0) line += ',';
        line += '[' + Json(text) + ',' + (speaker.empty() ? "null" : Json(speaker)) + ']';
      }
      line += "]]";
    }
    std::cout << line << "]\n";
  }
  return 0;
}
