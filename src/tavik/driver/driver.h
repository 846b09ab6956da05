#pragma once
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

class TFileWriter;

// State of the main sequence (one run of the program).
extern std::string strInRaw;       // first argument as typed
extern std::string strInFile;      // the source; its full path once it is known to exist
extern std::string strOutFile;     // output name without extension
extern int32_t intCount;           // argument being examined (1-based)
extern bool bPause;                // wait for the enter key before exit
extern std::string strIncludeRaw;  // the -i folder in effect, as typed
extern std::string strOutRaw;      // the -out name in effect, as typed
extern int64_t startTime64, endTime64;
extern float elapsedSeconds;
extern TFileWriter* batFile;

// Creates the global objects in their fixed order and prints the banner.
void InitTavik();
// Frees them again; safe after a partial InitTavik.
void DeinitTavik();
// The managers, the compiler and the log of InitTavik, in the same order,
// without banner or plug-ins; FreeGlobals frees whichever of them exist.
void CreateGlobals();
void FreeGlobals();

// The whole program on the arguments after the program name. Returns the exit
// code; the caller then ends the process. With -nopause the global objects
// are left alive for the ending process (after a failure, and after a
// finished build unless sanitizers are built in).
int TavikMain(const std::vector<std::string>& args, std::istream& input);

// The steps of the main sequence that work on the state above.
// True when any argument, the first included, is -nopause.
bool NoPauseAsked(const std::vector<std::string>& args);
// Reads the options after the source; warns of every argument it ignores
// and of an option given again.
void ReadOptions(const std::vector<std::string>& args);
void DeriveOutputName();
// The folder the plug-ins are loaded from, with its trailing separator.
std::string PluginFolder();
// The command the batch file holds: program, source, -i and -out.
std::string BatchFileLine();
// Leaves "<source without extension>.build.bat" when none is there yet,
// in the code page of the console that runs it.
void WriteBatchFile();
std::string BatchFileName(const std::string& source);

// Seconds as "0.####": four decimals at most, no trailing zeros or bare point.
std::string FormatSeconds(float seconds);
// The six banner lines around the title.
std::vector<std::string> BannerLines(const std::string& title);
