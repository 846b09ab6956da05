/* A builder that ends its own process in the middle of the build, as a
 * crash or a kill from outside would: what was printed before must stay. */
#include <signal.h>
#include <unistd.h>

#include "tavik/plugin_api.h"

static const TPluginInterface* host;

static TAVBOOL TAV_CALL killBuilder(TTriggerEvent evt, uint32_t id) {
    (void)id;
    if (evt == teComplete) {
        host->Log_MessageA("about to be killed", 0);
        kill(getpid(), SIGKILL);
    }
    return 1;
}

__attribute__((visibility("default"))) const char* TAV_CALL onEntry(const TPluginInterface* table) {
    host = table;
    host->RegisterBuilder("kill_self", killBuilder);
    return "Killer";
}
