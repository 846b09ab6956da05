#include "driver/settings.h"

#include "global.h"
#include "log.h"
#include "platform/platform.h"

TSettings::TSettings() : F_CompilerPath(platform::ExecutableFolder()) {}

void TSettings::SetWriteLog(bool value) {
    F_WriteLog = value;
    if (value && Log) Log->MakeLogFile();
}
