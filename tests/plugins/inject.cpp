// Hands source text to the compiler at the start event.
#include <cstring>

#include "test_plugin.h"

using namespace test_plugin;

namespace {
int32_t idInject = -1, idEmpty = -1, idBad = -1, idLate = -1;

TAVBOOL TAV_CALL injectBuilder(TTriggerEvent evt, uint32_t id) {
    // Code handed in once the compilation is over would go unchecked.
    if (evt == teComplete && int32_t(id) == idLate) {
        const char* text = "jmp nowhere;";
        host->func_execute(text, uint32_t(std::strlen(text)));
        say("late func_execute returned");
        return 1;
    }
    if (evt != teStart) return 1;
    TAVBOOL r = 0;
    if (int32_t(id) == idInject) {
        // The length excludes the tail, which must not be compiled.
        const char* text = "#define INJECTED; #set bits 32;IGNORED TAIL";
        r = host->func_execute(text, uint32_t(std::strlen(text) - std::strlen("IGNORED TAIL")));
    } else if (int32_t(id) == idEmpty) {
        r = host->func_execute(nullptr, 0);
    } else if (int32_t(id) == idBad) {
        // An error on the second line of the text.
        const char* text = "#define INJECTED;\n  #define ;";
        r = host->func_execute(text, uint32_t(std::strlen(text)));
    }
    say("func_execute answered %d", int(r));
    return 1;
}
}  // namespace

TEST_EXPORT const char* TAV_CALL onEntry(const TPluginInterface* table) {
    host = table;
    idInject = host->RegisterBuilder("inject", injectBuilder);
    idEmpty = host->RegisterBuilder("inject_empty", injectBuilder);
    idBad = host->RegisterBuilder("inject_bad", injectBuilder);
    idLate = host->RegisterBuilder("inject_late", injectBuilder);
    return "Inject";
}
