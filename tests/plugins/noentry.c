/* A library without "onEntry"; built as C, so the shared header is checked
 * as plain C too. */
#include "tavik/plugin_api.h"

__attribute__((visibility("default"))) uint32_t notAnEntry(const TPluginInterface* t) {
    return t ? (uint32_t)sizeof(TCompilerFlags) : 0u;
}
