// Loaded with LD_PRELOAD into a program under test: its directory listings
// give every entry the type DT_UNKNOWN, as file systems without entry types
// in their directories do, so that the program must ask for each entry's type.
#include <dirent.h>
#include <dlfcn.h>

namespace {

template <class Entry>
Entry* WithoutType(Entry* entry) {
  if (entry != nullptr) entry->d_type = DT_UNKNOWN;
  return entry;
}

}  // namespace

extern "C" {

dirent* readdir(DIR* dir) {
  static const auto real = reinterpret_cast<dirent* (*)(DIR*)>(::dlsym(RTLD_NEXT, "readdir"));
  return WithoutType(real(dir));
}

dirent64* readdir64(DIR* dir) {
  static const auto real = reinterpret_cast<dirent64* (*)(DIR*)>(::dlsym(RTLD_NEXT, "readdir64"));
  return WithoutType(real(dir));
}

}  // extern "C"
