// An entry that answers a 300-character display name.
#include <string>

#include "test_plugin.h"

TEST_EXPORT const char* TAV_CALL onEntry(const TPluginInterface*) {
    static const std::string name = std::string(250, 'L') + std::string(50, 'X');
    return name.c_str();
}
