#pragma once
// Helpers of the platform layer that both of its sides use.
#include <string>

namespace platform {

// s ends with suffix, ASCII letters compared without regard to case.
bool EndsWithNoCase(const std::string& s, const std::string& suffix);

}  // namespace platform
