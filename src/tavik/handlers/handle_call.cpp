#include "handlers/handlers.h"

#include "global.h"
#include "log.h"

void handle_FUNCCALL(bool, POperand) {
    Log->FatalError("A function call is not supported yet");
}

void handle_RETURN() {
    Log->FatalError("The return statement is not supported yet");
}
