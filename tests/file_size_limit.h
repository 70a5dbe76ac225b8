// A file-size limit (RLIMIT_FSIZE) for the life of an object, with SIGXFSZ
// ignored so that a write past the limit fails with EFBIG instead of ending
// the test process. POSIX only.
#pragma once

#include <sys/resource.h>

#include <csignal>

namespace orvane::testing {

class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    handler_ = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = saved_;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    ::signal(SIGXFSZ, handler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  struct rlimit saved_ {};
  void (*handler_)(int) = nullptr;
};

}  // namespace orvane::testing
