// The slow reference for the benchmark: the transcript rules written the
// plain way, with std::regex compiled for every file and standard streams
// read line by line. It writes the same transcript bytes as orvane-convert.
//
// Usage: regex_reference FOLDER
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <regex>
#include <string>

namespace {

namespace fs = std::filesystem;

// Returns the text between the first "<title>" and the first "</title>" of
// the course folder's manifest; the manifest text ends at its first NUL.
std::string ReadCourseTitle(const fs::path& course) {
  const fs::path manifest = course / "imsmanifest.xml";
  std::error_code error;
  if (!fs::is_regular_file(manifest, error)) return {};
  std::ifstream in(manifest, std::ios::binary);
  if (!in) return {};
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  text.resize(std::min(text.size(), text.find('\0')));
  const auto open = text.find("<title>");
  const auto close = text.find("</title>");
  if (open == text.npos || close == text.npos || close < open) return {};
  return text.substr(open + 7, close - open - 7);
}

// Reads one line as a Windows text-mode stream delivers it: CR LF arrives as
// LF and the first Ctrl-Z ends the input. False when no line is left.
bool ReadTextLine(std::ifstream& in, std::string& line, bool& ended) {
  if (ended || !std::getline(in, line)) return false;
  const bool had_lf = !in.eof();
  if (const auto stop = line.find('\x1A'); stop != line.npos) {
    line.resize(stop);
    ended = true;
    return true;
  }
  if (had_lf && !line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

// Writes `text` and a line end as a Windows text-mode stream does: every LF
// becomes CR LF, and the line end flushes.
void WriteTextLine(std::ofstream& out, const std::string& text) {
  for (const char c : text) {
    if (c == '\n') out.put('\r');
    out.put(c);
  }
  out << "\r\n" << std::flush;
}

void ConvertCaptionFile(const fs::path& input, const fs::path& output, std::string title) {
  std::ifstream in(input, std::ios::binary);
  std::ofstream out(output, std::ios::binary | std::ios::trunc);
  if (!in || !out) {
    std::cerr << input.string() << ": Error opening file(s).\n";
    return;
  }
  const std::regex timing(R"(\d{2}:\d{2}:\d{2}\.\d{3} --> \d{2}:\d{2}:\d{2}\.\d{3})");
  const std::regex voice("<v>|</v>");
  const std::regex cue_class("<c>|</c>");
  const std::regex cue_number(R"(^\d+$)");
  if (!title.empty()) {
    title += '.';
    WriteTextLine(out, title);
  }
  std::string line;
  bool ended = false;
  while (ReadTextLine(in, line, ended)) {
    if (line.size() >= 6 && line.find("WEBVTT") != line.npos) continue;
    if (std::regex_search(line, timing)) continue;
    if (std::regex_match(line, cue_number)) continue;
    line = std::regex_replace(line, voice, "");
    line = std::regex_replace(line, cue_class, "");
    if (!line.empty()) WriteTextLine(out, line);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: regex_reference FOLDER\n";
    return 2;
  }
  fs::path folder = fs::absolute(argv[1]).lexically_normal();
  if (!folder.has_filename()) folder = folder.parent_path();  // "captions/" or "captions/."
  const fs::path course = folder.parent_path().parent_path();
  const std::string title =
      course.filename().string().find("__") != std::string::npos ? ReadCourseTitle(course) : "";
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.is_directory() || entry.path().extension() != ".vtt") continue;
    std::string output = entry.path().string();
    output.replace(output.rfind('.'), std::string::npos, ".txt");
    ConvertCaptionFile(entry.path(), output, title);
  }
  return 0;
}
