#include "handlers/handlers.h"

#include "global.h"
#include "log.h"

PFunction handle_PROCEDURE(bool) {
    Log->FatalError("A procedure or function body is not supported yet");
}

PFunction handle_FUNCDECL(int32_t, bool) {
    Log->FatalError("A procedure or function declaration is not supported yet");
}

void handle_ENTRY() {
    Log->FatalError("The entry statement is not supported yet");
}

void handle_USES() {
    Log->FatalError("The uses statement is not supported yet");
}

void handle_IMPORTS() {
    Log->FatalError("The imports statement is not supported yet");
}

void handle_EXPORTS() {
    Log->FatalError("The exports statement is not supported yet");
}
