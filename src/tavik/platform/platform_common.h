#pragma once
// Helpers of the platform layer that both of its sides use.
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// A library file of more than this is no plug-in.
constexpr uint64_t kMaxLibraryFile = uint64_t(256) << 20;

// The characters that separate folders in a path (each side defines them);
// PathSeparator, one of them, is the one written.
extern const char PathSeparators[];

// Position of the last separator in path, npos when there is none.
size_t LastSeparator(const std::string& path);

// s ends with suffix, ASCII letters compared without regard to case.
bool EndsWithNoCase(const std::string& s, const std::string& suffix);

}  // namespace platform
