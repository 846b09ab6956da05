#pragma once
#include <string>

#include "tavik/plugin_api.h"

// The 31 services handed to every plug-in's entry, in their fixed slots.
// Getters answer nil for an index out of range; the output services do
// nothing (or answer 0 or nil) outside a build.
extern const TPluginInterface funcTable;

// Name of the source buffer that holds text injected by a plug-in.
inline constexpr const char* PluginBufferName = "plugin buffer";

// Zero-terminated UTF-16 text as UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const char16_t* s);
