#include <iostream>
#include <string>
#include <vector>

#include "driver.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
    std::vector<std::string> args = platform::CommandLineArguments(argc, argv);
    bool quickExit = false;
    int code = TavikMain(args, std::cin, quickExit);
    platform::ExitProcess(code);
}
