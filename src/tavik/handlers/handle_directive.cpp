#include "handlers/handlers.h"

#include "compiler.h"
#include "global.h"
#include "log.h"

bool handle_DIRECTIVE() {
    Log->FatalError("The directive #" + Compiler->F_CurToken->F_String + " is not supported yet");
}

void handle_DIRECTIVE_macrovar() {
    Log->FatalError("A compile-time variable is not supported yet");
}
