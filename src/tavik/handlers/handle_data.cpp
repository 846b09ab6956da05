#include "handlers/handlers.h"

#include "global.h"
#include "log.h"

void handle_TYPE() {
    Log->FatalError("The type statement is not supported yet");
}

void handle_VARTYPE() {
    Log->FatalError("A variable declaration is not supported yet");
}

void handle_BLOCK() {
    Log->FatalError("The block statement is not supported yet");
}

void handle_CONST() {
    Log->FatalError("The const statement is not supported yet");
}

void handle_ENUM() {
    Log->FatalError("The enum statement is not supported yet");
}
