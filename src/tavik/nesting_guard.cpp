#include "nesting_guard.h"

#include "exceptions.h"
#include "global.h"
#include "log.h"

void refuseNesting(const std::string& message) {
    if (!Log) throw EAbort();
    Log->FatalError(message);
}
