#include "common.h"

int64_t frequency64 = 0;
uint32_t fileCounter = 0;
uint32_t ptrSize = 4;
std::string strTAVIK_PATH;
std::string strTAVIK_VERSION;
TCompilerFlags CompileFlags{};
TFileWriter* fWriter = nullptr;

std::string rangeText(int64_t v, int64_t lo, int64_t hi) {
    return "Value " + std::to_string(v) + " out of range " + std::to_string(lo) + ".." + std::to_string(hi);
}

std::string byteCount(uint64_t n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); }
