#include "handlers/handlers.h"

#include "global.h"
#include "log.h"

void handle_MACROVAR_tokens() {
    Log->FatalError("A compile-time expression is not supported yet");
}
