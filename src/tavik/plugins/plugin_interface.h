#pragma once
#include <string>

#include "tavik/plugin_api.h"

// The 31 services handed to every plug-in's entry, in their fixed slots.
// Getters answer nil for an index out of range; the output services do
// nothing (or answer 0 or nil) outside a build.
// Each service catches everything inside itself: a failure (a fatal message
// included) is printed at once and recorded, the service answers 0 or nil,
// and later services do nothing until the host raises the stop.
extern const TPluginInterface funcTable;

// True while a service's failure waits to be raised.
bool PluginStopPending();
// Raises the recorded stop (EAbort) and clears it; nothing without one.
// Called when the plug-in's code has returned to the host.
void RaisePluginStop();

// Name of the source buffer that holds text injected by a plug-in.
inline constexpr const char* PluginBufferName = "plugin buffer";

// Zero-terminated UTF-16 text as UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const char16_t* s);

// Whether the builder of the current build asked for the resource section;
// cleared as a build starts.
bool ResourcesAskedFor();
void ClearResourcesAskedFor();
