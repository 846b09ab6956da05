#include "handlers/handlers.h"

#include "global.h"
#include "log.h"

void handle_INLINE() {
    Log->FatalError("The inline statement is not supported yet");
}

void handle_MACROCALL(TMacro*) {
    Log->FatalError("A macro call is not supported yet");
}
