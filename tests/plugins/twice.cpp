// Registers one name twice, and "test_writer", which the writer plug-in
// registers too: whoever loads first keeps it.
#include "test_plugin.h"

using namespace test_plugin;

namespace {
TAVBOOL TAV_CALL twiceBuilder(TTriggerEvent evt, uint32_t id) {
    say("twice builder: event %d id %u", int(evt), id);
    return 1;
}
}  // namespace

TEST_EXPORT const char* TAV_CALL onEntry(const TPluginInterface* table) {
    host = table;
    int32_t a = host->RegisterBuilder("twice", twiceBuilder);
    int32_t b = host->RegisterBuilder("TWICE", twiceBuilder);
    int32_t c = host->RegisterBuilder("test_writer", twiceBuilder);
    int32_t d = host->RegisterBuilder("nil_callback", nullptr);
    say("twice ids: %d %d %d %d", a, b, c, d);
    return "Twice";
}
