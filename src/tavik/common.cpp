#include "common.h"

int64_t frequency64 = 0;
uint32_t fileCounter = 0;
uint32_t ptrSize = 4;
std::string strTAVIK_PATH;
std::string strTAVIK_VERSION;
TCompilerFlags CompileFlags{};
TFileWriter* fWriter = nullptr;
