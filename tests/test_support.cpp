#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

namespace orvane::testing {

TempDir::TempDir() {
  std::random_device seed;
  std::mt19937_64 random(seed());
  const fs::path base = fs::temp_directory_path();
  for (;;) {
    path_ = base / ("orvane-test-" + std::to_string(random()));
    if (fs::create_directory(path_)) break;
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

NativeString Native(std::string_view utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end())).native();
}

void PrintTo(const Message& message, std::ostream* out) {
  const std::u8string subject = fs::path(message.subject).u8string();
  *out << "{kind " << static_cast<int>(message.kind) << ", \""
       << std::string(subject.begin(), subject.end()) << "\"}";
}

void WriteFile(const fs::path& path, std::string_view bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << "cannot write " << path;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << "cannot read " << path;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

Snapshot TakeSnapshot(const fs::path& folder) {
  Snapshot snapshot;
  for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator();
       ++it) {
    const fs::path& path = it->path();
    const std::string name = path.lexically_relative(folder).generic_string();
    if (it->is_symlink()) {
      snapshot[name] = "link -> " + fs::read_symlink(path).string();
      it.disable_recursion_pending();
    } else if (it->is_regular_file()) {
      snapshot[name] = ReadFile(path);
    } else if (it->is_directory()) {
      snapshot[name + "/"] = "";
    } else {
      snapshot[name] = "special";
    }
  }
  return snapshot;
}

}  // namespace orvane::testing
