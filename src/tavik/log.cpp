#include "log.h"

#include <cstdio>

#include "exceptions.h"
#include "global.h"
#include "driver/settings.h"

TLogHooks LogHooks;

namespace {

const std::string kDashes(30, '-');

bool IsLineBreak(char c) { return c == '\r' || c == '\n'; }

// The current or given source, as the hooks describe it; false without one.
bool CurrentSource(const TAFile* fn, TLogSource& out) {
    if (!LogHooks.describe) return false;
    if (!fn) {
        if (!LogHooks.currentFile) return false;
        fn = LogHooks.currentFile();
    }
    return fn && LogHooks.describe(fn, out);
}

std::string Positioned(const TLogSource& src, uint32_t line, uint32_t column, const std::string& text) {
    return "[" + std::to_string(line) + "," + std::to_string(column) + "]: " + text + " in [" +
           platform::ExtractFileName(src.fileName) + "]";
}

std::string TokenText() { return LogHooks.currentTokenText ? LogHooks.currentTokenText() : std::string(); }

// Lines end in CR LF in the log file, whatever the console uses.
std::string ToCrLf(const std::string& s) {
    std::string r;
    r.reserve(s.size() + 8);
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\n' && (i == 0 || s[i - 1] != '\r')) r += '\r';
        r += s[i];
    }
    return r;
}

// A run of more than this many bytes without a space is cut in its middle.
constexpr size_t kLongRun = 512;
constexpr size_t kRunHead = 200, kRunTail = 40;

bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// What reaches the console and the log: control bytes other than tab and
// line feed (which could retitle or clear a terminal) are shown as \xNN,
// the C1 controls as \u00NN, and a long run such as a huge identifier is cut.
std::string Printable(const std::string& s) {
    std::string r;
    r.reserve(s.size());
    char esc[8];
    for (size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if ((c < 0x20 && c != '\t' && c != '\n') || c == 0x7F) {
            std::snprintf(esc, sizeof esc, "\\x%02X", c);
            r += esc;
        } else if (c == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(s[i + 1]) <= 0x9F) {
            std::snprintf(esc, sizeof esc, "\\u%04X", static_cast<unsigned char>(s[++i]));
            r += esc;
        } else {
            r += static_cast<char>(c);
        }
    }
    std::string out;
    for (size_t i = 0; i < r.size();) {
        size_t end = i;
        while (end < r.size() && r[end] != ' ' && r[end] != '\t' && r[end] != '\n') ++end;
        if (end - i > kLongRun) {
            size_t head = i + kRunHead, tail = end - kRunTail;
            while (head > i && IsContinuation(r[head])) --head;
            while (tail < end && IsContinuation(r[tail])) ++tail;
            out.append(r, i, head - i);
            out += "...(" + std::to_string(tail - head) + " bytes)...";
            out.append(r, tail, end - tail);
        } else {
            out.append(r, i, end - i);
        }
        if (end < r.size()) out += r[end++];
        i = end;
    }
    return out;
}

}  // namespace

TLog::TLog() {
    if (Settings && Settings->WriteLog()) MakeLogFile();
}

TLog::~TLog() {
    if (F_LogFile.IsOpen()) {
        WriteFile("\r\n" + kDashes + "\r\n");
        if (!F_LogFile.Close()) LogFileFailed("closing");
    }
}

void TLog::MakeLogFile() {
    if (F_LogFile.IsOpen() && !F_LogFile.Close()) LogFileFailed("closing");
    std::string folder = Settings ? Settings->CompilerPath() : platform::ExecutableFolder();
    std::string path = folder + "log.txt";
    if (!F_LogFile.OpenAppend(path)) {
        LogFileFailed("opening " + path);
        return;
    }
    WriteFile("\r\n" + kDashes);
    WriteFile("LOG STARTED");
}

void TLog::LogFileFailed(const std::string& what) {
    std::string reason = platform::LastErrorText();
    F_LogFile.Close();
    if (F_LogFailed) return;
    F_LogFailed = true;
    Message("Log file error " + what + ": " + reason + "; logging is off", colError);
}

void TLog::WriteFile(const std::string& str) {
    if (!F_LogFile.IsOpen()) return;
    if (Settings && !Settings->WriteLog()) return;
    std::string line = ToCrLf(str) + "\r\n";
    // Each line reaches the disk as it is written: a run that is killed keeps its log.
    if (!F_LogFile.Write(line.data(), line.size()) || !F_LogFile.Flush()) LogFileFailed("writing");
}

void TLog::Flush() {
    if (F_LogFile.IsOpen() && !F_LogFile.Flush()) LogFileFailed("writing");
    platform::FlushStdout();
}

void TLog::Message(const std::string& text, uint16_t col) {
    const std::string str = Printable(text);
    platform::SetTextColour(col);
    platform::WriteStdout(str + "\n");
    // Written through, also into a pipe or file: nothing printed is lost.
    platform::FlushStdout();
    WriteFile(str);
}

void TLog::Debug(const std::string& str, uint16_t col) { Message(str, col); }

void TLog::Warning(const std::string& strError) {
    ++F_WarningCount;
    TLogSource src;
    if (CurrentSource(nullptr, src)) Message(Positioned(src, src.line, src.column, "Warning: " + strError), colWarning);
    else Message("Warning: " + strError, colWarning);
}

void TLog::WarningUnpositioned(const std::string& strError) {
    ++F_WarningCount;
    Message("Warning: " + strError, colWarning);
}

void TLog::Error(const std::string& strError) {
    ++F_ErrorCount;
    TLogSource src;
    if (CurrentSource(nullptr, src)) Message(Positioned(src, src.line, src.column, "Error: " + strError), colError);
    else Message(strError, colError);
}

std::string TLog::LineExcerpt(const char* data, size_t size, uint32_t charPos) {
    if (!data || size == 0) return std::string();
    size_t p = charPos == 0 ? 0 : size_t(charPos) - 1;
    if (p > size) p = size;
    // A line break belongs to the line it ends; CR LF counts as one break.
    if (p < size && data[p] == '\n' && p > 0 && data[p - 1] == '\r') --p;
    size_t start = p;
    while (start > 0 && !IsLineBreak(data[start - 1])) --start;
    size_t end = p;
    while (end < size && !IsLineBreak(data[end])) ++end;
    while (start < end && static_cast<unsigned char>(data[start]) <= 32) ++start;
    while (end > start && static_cast<unsigned char>(data[end - 1]) <= 32) --end;
    // A very long line is shown around the position only.
    constexpr size_t kLongLine = 16384, kSide = 2048;
    const size_t q = p < start ? start : p > end ? end : p;
    std::string before, after;
    if (end - start <= kLongLine) return std::string(data + start, end - start);
    if (q > start + kSide) {
        start = q - kSide;
        while (start < q && IsContinuation(data[start])) ++start;
        before = "...";
    }
    if (end > q + kSide) {
        end = q + kSide;
        while (end > q && IsContinuation(data[end])) --end;
        after = "...";
    }
    return before + std::string(data + start, end - start) + after;
}

void TLog::FatalError(const std::string& strError, bool showCode, uint32_t cC, uint32_t cL, uint32_t cLc,
                      const TAFile* fn) {
    std::string text = strError;
    TLogSource cur;
    if (CurrentSource(nullptr, cur)) {
        TLogSource src = cur;
        if (fn && !CurrentSource(fn, src)) src = cur;
        if (cL == 0) cL = cur.line;
        if (cLc == 0) cLc = cur.column;
        if (cC == 0) cC = (fn ? src.charPos : cur.charPos);
        text = Positioned(src, cL, cLc, strError);
        if (showCode) text += "\nCode: \n" + LineExcerpt(src.data, src.size, cC);
    }
    Message(text, colError);
    throw EAbort();
}

void TLog::FatalUnpositioned(const std::string& strError) {
    Message(strError, colError);
    throw EAbort();
}

void TLog::FatalUnexpectedToken(const std::string& errCode) {
    std::string s = errCode.empty() ? "Unexpected " : "[" + errCode + "] Unexpected ";
    FatalError(s + TokenText(), true);
}

void TLog::FatalReservedToken(const std::string& errCode) {
    std::string s = errCode.empty() ? "Reserved " : "[" + errCode + "] Reserved ";
    FatalError(s + TokenText(), true);
}

void TLog::FatalRedeclared() { FatalError(TokenText() + " redeclared", true); }
