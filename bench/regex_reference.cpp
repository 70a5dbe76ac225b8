// The slow reference for the benchmark: the transcript rules read the plain
// way (tests/oracle), with the four std::regex patterns compiled for every
// file and each file read whole through standard streams. It writes the same
// transcript bytes as orvane-convert.
//
// Usage: regex_reference FOLDER
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "tests/oracle/oracle.h"

namespace {

namespace fs = std::filesystem;

// The bytes of `path`; false when it cannot be read.
bool ReadWhole(const fs::path& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

std::string ReadCourseTitle(const fs::path& course) {
  const fs::path manifest = course / "imsmanifest.xml";
  std::error_code error;
  std::string bytes;
  if (!fs::is_regular_file(manifest, error) || !ReadWhole(manifest, bytes)) return {};
  return orvane::oracle::CourseTitle(bytes);
}

void ConvertCaptionFile(const fs::path& input, const fs::path& output, const std::string& title) {
  std::string captions;
  const bool read = ReadWhole(input, captions);
  std::ofstream out(output, std::ios::binary | std::ios::trunc);
  if (!read || !out) {
    std::cerr << input.string() << ": Error opening file(s).\n";
    return;
  }
  const orvane::oracle::RegexRules rules;
  out << orvane::oracle::TitleLine(title) << orvane::oracle::Transcript(captions, rules);
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
