#include "handlers/handlers.h"

#include "global.h"
#include "log.h"

void handle_VAR() {
    Log->FatalError("A variable statement is not supported yet");
}

void handle_REGISTER() {
    Log->FatalError("A register statement is not supported yet");
}

void handle_SEGMENT() {
    Log->FatalError("A segment register statement is not supported yet");
}

void handle_BASEEXP() {
    Log->FatalError("A memory statement is not supported yet");
}
