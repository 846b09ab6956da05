// #include, #tryinclude and #resource.
#include <cstdint>
#include <filesystem>
#include <string>

#include "reader/afile.h"
#include "classes/define_manager.h"
#include "classes/ident_manager.h"
#include "classes/resource_manager.h"
#include "compiler.h"
#include "reader/cur_token.h"
#include "exceptions.h"
#include "global.h"
#include "handlers/handlers.h"
#include "log.h"
#include "platform/platform.h"
#include "plugins/plugin_interface.h"
#include "driver/settings.h"

namespace {

// Names in source separate folders with "\".
std::string localPath(std::string s) {
    for (char& c : s)
        if (c == '\\') c = platform::PathSeparator;
    return s;
}

// Include names are lower-cased, as Windows finds files without regard to
// case; where the file system tells case apart, a part of the name that is
// not there as written is matched against the folder's entries without
// regard to ASCII case. The path found, or "" when there is none.
std::string findFile(const std::string& folder, const std::string& name) {
    if (platform::FileExists(folder + name)) return folder + name;
    std::string path = folder;
    size_t from = 0;
    while (from <= name.size()) {
        size_t to = name.find(platform::PathSeparator, from);
        if (to == std::string::npos) to = name.size();
        const std::string part = name.substr(from, to - from);
        const bool last = to == name.size();
        from = to + 1;
        if (part.empty() || part == "." || part == "..") {
            if (!last) path += part + platform::PathSeparator;
            continue;
        }
        std::error_code ec;
        std::string match;
        if (std::filesystem::exists(path + part, ec)) {
            match = part;
        } else {
            const std::string want = lowerAscii(part);
            for (const auto& e : std::filesystem::directory_iterator(path.empty() ? "." : path, ec)) {
                const std::string n = e.path().filename().string();
                if (lowerAscii(n) == want && (match.empty() || n < match)) match = n;
            }
            if (match.empty()) return std::string();
        }
        path += match;
        if (!last) path += platform::PathSeparator;
    }
    return platform::FileExists(path) ? path : std::string();
}

uint32_t read16(const std::string& b, uint64_t at) {
    return static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8;
}

uint32_t read32(const std::string& b, uint64_t at) { return read16(b, at) | read16(b, at + 2) << 16; }

// The fixed fields after the type and the name: DataVersion, MemoryFlags,
// LanguageId, Version and Characteristics.
constexpr uint64_t kResTail = 16;
constexpr uint32_t kResNumber = 0xFFFF;  // a number follows; otherwise a text
constexpr size_t kMaxResName = 0xFFFF;   // the image holds a name's length in 16 bits

// The type or the name in an entry's header: 0xFFFF and a 16-bit number, or
// a text of UTF-16 units up to a zero unit.
struct ResKey {
    bool named = false;
    uint32_t number = 0;
    std::u16string text;
};

// Reads a key at `at`; the offset after it, or 0 when the file ends first.
uint64_t readKey(const std::string& b, uint64_t at, ResKey& key) {
    const uint64_t total = b.size();
    if (total < 2 || at > total - 2) return 0;
    if (read16(b, at) == kResNumber) {
        if (at > total - 4) return 0;
        key.number = read16(b, at + 2);
        return at + 4;
    }
    key.named = true;
    for (; at <= total - 2; at += 2) {
        const auto unit = static_cast<char16_t>(read16(b, at));
        if (unit == 0) return at + 2;
        key.text += unit;
    }
    return 0;
}
// A resource file larger than the data an image may hold is refused unread.
constexpr uint64_t kMaxResourceFile = 0x7FFFFFFF;

// Hands every entry of a compiled resource file to the resource collector.
void loadResources(const std::string& name, const std::string& b) {
    const uint64_t total = b.size();
    const std::string quoted = "\"" + name + "\"";
    for (uint64_t offset = 0; offset + 1 < total;) {
        // DataSize, HeaderSize, the type, the name, padding to 4, the rest.
        ResKey type, key;
        uint64_t end = total - offset < 8 ? 0 : readKey(b, offset + 8, type);
        if (end) end = readKey(b, end, key);
        if (end) end = offset + ((end - offset + 3) & ~uint64_t(3)) + kResTail;
        if (!end || end > total)
            Log->FatalError("[437] Resource file " + quoted + " is damaged: the entry at offset " +
                            std::to_string(offset) + " has no complete header");
        const uint64_t headerSize = end - offset;
        if (read32(b, offset + 4) != headerSize)
            Log->FatalError("[437] Resource file " + quoted + " is damaged: the entry at offset " +
                            std::to_string(offset) + " gives its header " + std::to_string(read32(b, offset + 4)) +
                            " bytes, not " + std::to_string(headerSize));
        const uint32_t size = read32(b, offset);
        if (size == 0) {
            offset = end;
            continue;
        }
        if (size > total - end)
            Log->FatalError("[438] Resource file " + quoted + " is damaged: the data of the entry at offset " +
                            std::to_string(offset) + " runs past the end of the file");
        if (type.named)
            throw Exception("Exception",
                            "This type of resource id is not supported yet, please ask a developer for details.");
        // A loader finds a name in capitals, which leaves ASCII alone outside its letters.
        std::string resName;
        for (char16_t unit : key.text) {
            if (unit >= 0x80) {
                const std::string shown = Utf16ToUtf8(key.text.c_str());
                Log->FatalError("[442] Resource name \"" + shown + "\" in " + quoted +
                                " is not supported: resource names in ASCII only");
            }
            resName += static_cast<char>(unit);
        }
        if (key.named && (resName.empty() || resName.size() > kMaxResName))
            Log->FatalError("[443] Resource name of " + std::to_string(resName.size()) + " characters in " + quoted +
                            " is not supported: 1 to " + std::to_string(kMaxResName) + " characters only");
        const auto rtType = static_cast<int32_t>(type.number);
        if (rtType >= TResourceManager::MaxTypes)
            Log->FatalError("[439] Resource type " + std::to_string(rtType) + " in " + quoted +
                            " is not supported: type numbers 0 to " + std::to_string(TResourceManager::MaxTypes - 1) +
                            " only");
        if (!ResMan->fits(rtType))
            Log->FatalError("[440] Too many resources of type " + std::to_string(rtType) + ": " +
                            std::to_string(TResourceManager::MaxPerType) + " at most");
        const auto id = static_cast<int32_t>(key.number);
        const auto lang = static_cast<int32_t>(read16(b, end - kResTail + 6));
        // The loader could find only one of them.
        if (ResMan->contains(rtType, id, lang, resName))
            Log->FatalError("[441] Resource of type " + std::to_string(rtType) + ", " +
                            (key.named ? "name \"" + resName + "\"" : "id " + std::to_string(id)) + " and language " +
                            std::to_string(lang) + " in " + quoted + " is already defined");
        ResMan->addResource(rtType, id, lang, resName, b.data() + end, static_cast<int32_t>(size));
        offset = end + ((uint64_t(size) + 3) & ~uint64_t(3));
    }
}

}  // namespace

void handle_DIRECTIVE_include(bool _tryonly) {
    if (Compiler->ExpectToken({ttAnsiString, ttWideString}) == ttNone) Log->FatalUnexpectedToken("7767");
    // The system would read the name only up to a zero byte.
    if (tok()->F_String.find('\0') != std::string::npos)
        Log->FatalError("[1449] An include file name may not hold a zero byte", true);
    handle_DIRECTIVE_doinclude(lowerAscii(tok()->F_String), _tryonly);
}

void handle_DIRECTIVE_resource() {
    if (Compiler->ExpectToken({ttAnsiString}) == ttNone) Log->FatalUnexpectedToken("43535");
    const std::string name = tok()->F_String;
    if (name.find('\0') != std::string::npos)
        Log->FatalError("[445] A resource file name may not hold a zero byte", true);
    std::string path = Settings->ProjectPath() + localPath(name);
    if (!platform::FileExists(path)) {
        path = localPath(name);
        if (!platform::FileExists(path)) Log->FatalError("[432] Resource file \"" + name + "\" does not exist");
    }
    if (!Compiler->ExpectSymbol(";")) Log->FatalUnexpectedToken("5354");
    std::string data;
    const std::string quoted = "\"" + name + "\"";
    switch (platform::ReadRegularFile(path, data, kMaxResourceFile)) {
    case platform::TReadResult::Read: break;
    case platform::TReadResult::NotRegular: Log->FatalError("[446] Resource file " + quoted + " is not a regular file");
    case platform::TReadResult::TooLarge:
        Log->FatalError("[447] Resource file " + quoted + " is larger than " + std::to_string(kMaxResourceFile) +
                        " bytes");
    default: Log->FatalError("[436] Resource file " + quoted + " cannot be read");
    }
    Compiler->F_FilesRead.push_back(path);
    if (ResMan->files++ == 0) ResMan->firstFile = name;
    loadResources(name, data);
}

void handle_DIRECTIVE_doinclude(const std::string& s, bool _tryonly) {
    const std::string name = localPath(s);
    const std::string sep(1, platform::PathSeparator);
    const std::string incl = Settings->IncludePath();
    bool found = false;
    // An absolute name is taken as it is; the folders apply to a relative one.
    const bool absolute = std::filesystem::path(name).is_absolute();
    const std::string folders[] = {Settings->ProjectPath(), Settings->CompilerPath() + "includes" + sep, incl};
    for (const std::string& folder : folders) {
        // The -i folder only when one is set.
        if (&folder == &folders[2] && folder.empty()) continue;
        if (absolute && &folder != &folders[0]) break;
        const std::string path = findFile(absolute ? std::string() : folder, name);
        if (path.empty()) continue;
        // Each file is taken once, however its name was written; a later
        // include of it does nothing.
        std::error_code ec;
        std::string key = std::filesystem::canonical(path, ec).string();
        if (ec) key = platform::FullPath(path);
        if (!Compiler->F_Included.insert(key).second) return;
        TAFile* f = TAFile::Create();
        // A file that cannot be read is no source: the search goes on.
        if (!f->loadFile(path, src())) continue;
        Compiler->F_CurFile = f;
        found = true;
        break;
    }

    if (!found) {
        const std::string quoted = "\"" + s + "\"";
        if (_tryonly) Log->Warning("[0010] Include file not found " + quoted);
        else if (incl.empty()) Log->FatalError("[1448] Included file not found " + quoted);
        else Log->FatalError("[1447] Included file not found " + quoted);
    }
}
