#include "handlers/handlers.h"

#include "global.h"
#include "log.h"

void handle_IF() {
    Log->FatalError("The if statement is not supported yet");
}

void handle_WHILE() {
    Log->FatalError("The while statement is not supported yet");
}

void handle_REPEAT() {
    Log->FatalError("The repeat statement is not supported yet");
}

void handle_CONTINUE() {
    Log->FatalError("The continue statement is not supported yet");
}

void handle_BREAK() {
    Log->FatalError("The break statement is not supported yet");
}

void handle_EXITIF() {
    Log->FatalError("The exitif statement is not supported yet");
}
