#pragma once
#include <string>

#include "ascii.h"
#include "reader/afile.h"
#include "reader/cur_token.h"

// Helpers shared by the tokenizer and identifier resolution. Every read of
// one token goes into the token being filled, never into another one, so a
// peek leaves the compiler's current token alone.
namespace tokread {

// Reads one token; true when it is the symbol s.
bool readSymbol(TAFile* f, TCurrentToken* tok, char s);
// Reads the next character (blanks and comments skipped); true when it is c.
bool readChar(TAFile* f, char c, char& got);

// "[code] Unexpected ..." describing tok (made the compiler's current token).
[[noreturn]] void unexpected(TCurrentToken* tok, const std::string& code);
// The same for a character read directly (0: the end of the text).
[[noreturn]] void unexpectedChar(TCurrentToken* tok, char c, const std::string& code);
// A positioned fatal error with the source line.
[[noreturn]] void fatal(const std::string& text);

// A field name after ".": blanks and comments skipped, then a letter and the
// letters and digits after it, read as written and never resolved. False
// (nothing consumed but the blanks) when no letter follows; first is then the
// character found.
bool readRawWord(TAFile* f, std::string& word, char& first);

}  // namespace tokread
