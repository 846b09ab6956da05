#pragma once
#include <cstdint>
#include <string>

#include "tavik/plugin_api.h"

// Process-wide values shared by every part of the assembler.
extern int64_t frequency64;        // counter ticks per second
extern uint32_t fileCounter;       // source files read from disk
extern uint32_t ptrSize;           // target word size in bytes
extern std::string strTAVIK_PATH;  // folder of the executable, with its trailing separator
extern std::string strTAVIK_VERSION;
extern TCompilerFlags CompileFlags;

class TFileWriter;
// The output buffer of the build under way; exists only while a builder runs.
extern TFileWriter* fWriter;

// "Value v out of range lo..hi", the words of every range refusal.
std::string rangeText(int64_t v, int64_t lo, int64_t hi);
// "1 byte", "4 bytes".
std::string byteCount(uint64_t n);
