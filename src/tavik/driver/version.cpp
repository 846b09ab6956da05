#include "driver/version.h"

#include "platform/platform.h"

std::string GetVersion(const std::string& sFileName) { return platform::FileVersion(sFileName); }
