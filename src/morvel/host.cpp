#include "host.h"

namespace morvel {

TPluginInterface host{};

void takeServices(const TPluginInterface* table) {
    host = *table;
    host.Log_MessageW = nullptr;
}

void message(const std::string& text) { host.Log_MessageA(text.c_str(), 0); }

void fatal(const std::string& text) {
    host.Log_MessageA(text.c_str(), 1);
    throw BuildStopped{};
}

}  // namespace morvel
