// Shared helpers of the test plug-ins: the table they were handed and a
// formatted message through the host's log.
#pragma once
#include <cstdarg>
#include <cstdio>

#include "tavik/plugin_api.h"

#define TEST_EXPORT extern "C" __attribute__((visibility("default")))

namespace test_plugin {

inline const TPluginInterface* host = nullptr;

inline void say(const char* fmt, ...) {
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    host->Log_MessageA(buf, 0);
}

}  // namespace test_plugin
