// Windows-only helpers of the platform layer for the programs that talk to
// handles directly (orvane-convert.exe's console, the test window probe).
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace orvane::platform {

// Returns `text` encoded as UTF-8.
std::string ToUtf8(std::wstring_view text);

// Writes all `size` bytes of `data` to `handle`, in as many calls as it takes.
// Returns false on any error.
bool WriteAll(HANDLE handle, const char* data, std::size_t size);

}  // namespace orvane::platform
