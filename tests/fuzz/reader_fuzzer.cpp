// Drives the source reader's cursor over arbitrary bytes with arbitrary
// moves (the first half of the input is the text, the second the moves) and
// checks that it never leaves its text and that peeks move nothing. A
// block comment that the text ends in stops the read (a fatal error), which
// is a normal outcome.
#include <cstdint>
#include <string>

#include "reader/afile.h"
#include "exceptions.h"

namespace {

void check(bool ok) {
    if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const size_t half = size / 2;
    TAFile f;
    f.loadBuffer("reader.tav", std::string(reinterpret_cast<const char*>(data), half), nullptr);
    try {
        for (size_t i = half; i < size; ++i) {
            const uint8_t op = data[i];
            const uint32_t pos = f.CurChar, line = f.CurLine, col = f.CurLineChar, total = f.F_TotalLines;
            switch (op % 9) {
            case 0: f.moveNextChar(false); break;
            case 1: f.moveNextChar(true); break;
            case 2: {
                const char c = f.movePrevChar();
                check(c == f.charAt(f.CurChar));
                if (pos == 0) check(f.CurChar == 0 && c == '\0');
                break;
            }
            case 3: f.movePrevCharEx((op & 0x10) != 0); break;
            case 4:
                f.peekNextRealChar((op & 0x10) != 0);
                check(f.CurChar == pos && f.CurLine == line && f.CurLineChar == col && f.F_TotalLines == total);
                break;
            case 5: f.commitPeekPosition(); break;
            case 6: f.moveToChar(static_cast<char>(op >> 4)); break;
            case 7: f.moveBackToChar(static_cast<char>(op >> 4)); break;
            default:
                if (op & 0x10) f.save();
                else f.restore();
            }
            check(f.CurChar <= f.F_FileLength + 1);
            check(f.CurLine >= 1);
        }
    } catch (const EAbort&) {
        check(f.CurChar <= f.F_FileLength + 1);
    }
    return 0;
}
