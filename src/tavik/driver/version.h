#pragma once
#include <string>

// The four-part file version of an executable ("a.b.c.d"); "0.0.0.0" for a
// file that carries none.
std::string GetVersion(const std::string& sFileName);
