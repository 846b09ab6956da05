#include <iostream>
#include <string>
#include <vector>

#include "driver.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    bool quickExit = false;
    int code = TavikMain(args, std::cin, quickExit);
    platform::ExitProcess(code);
}
