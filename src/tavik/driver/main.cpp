#include <iostream>
#include <string>
#include <vector>

#if defined(__GLIBC__)
#  include <malloc.h>
#endif

#include "driver/driver.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
#if defined(__GLIBC__)
    // Large blocks come from the system and go back to it when freed, at a
    // fixed size: a build's big temporaries leave no holes in the heap.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    mallopt(M_TRIM_THRESHOLD, 64 * 1024 * 1024);
#endif
    std::vector<std::string> args = platform::CommandLineArguments(argc, argv);
    int code = TavikMain(args, std::cin);
    platform::ExitProcess(code);
}
