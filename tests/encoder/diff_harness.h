#pragma once
// Differential check of the encoder against binutils. Each case is one
// instruction as operand records plus its Intel-syntax text; a batch is
// assembled by one `as --32` call and the bytes of both sides are decoded by
// one `objdump` call. Every case sits in a 16-byte slot padded with 0x90, so
// a slot start is always an instruction start on both sides.
#include "gtest_guard.h"
#include "../require_tool.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "encoder/tav_assembler.h"

namespace enctest {

struct Opnd {
    TOperand op;
    std::string text;
};

struct DiffCase {
    std::string mn;
    std::vector<Opnd> ops;
    std::string text;     // for `as`; empty: the mnemonic and the operands' texts
    bool longer = false;  // ours is longer than the shortest form on purpose
};

inline std::string caseText(const DiffCase& c) {
    if (!c.text.empty()) return c.text;
    std::string s = c.mn;
    for (size_t i = 0; i < c.ops.size(); ++i) s += (i ? ", " : " ") + c.ops[i].text;
    return s;
}

inline bool toolAvailable(const char* tool) {
    std::string cmd = std::string("command -v ") + tool + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

inline std::string readFile(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

// The bytes of the .text section of an ELF32 relocatable file.
inline bool elfText(const std::string& elf, std::string& out) {
    auto u16 = [&](size_t o) {
        return o + 2 <= elf.size() ? uint32_t(uint8_t(elf[o]) | uint8_t(elf[o + 1]) << 8) : 0u;
    };
    auto u32 = [&](size_t o) { return o + 4 <= elf.size() ? uint32_t(u16(o) | u16(o + 2) << 16) : 0u; };
    if (elf.size() < 52 ||
        elf.compare(0, 4,
                    "\x7f"
                    "ELF") != 0 ||
        elf[4] != 1)
        return false;
    uint32_t shoff = u32(0x20), shentsize = u16(0x2E), shnum = u16(0x30), shstrndx = u16(0x32);
    if (shstrndx >= shnum) return false;
    uint32_t strOff = u32(shoff + shstrndx * shentsize + 0x10);
    for (uint32_t i = 0; i < shnum; ++i) {
        size_t sh = shoff + size_t(i) * shentsize;
        uint32_t name = u32(sh), off = u32(sh + 0x10), size = u32(sh + 0x14);
        if (strOff + name + 6 > elf.size()) continue;
        if (std::strcmp(elf.c_str() + strOff + name, ".text") == 0) {
            if (size_t(off) + size > elf.size()) return false;
            out = elf.substr(off, size);
            return true;
        }
    }
    return false;
}

struct Decoded {
    uint32_t len = 0;
    std::string text;
};

// objdump lines "   10:\t66 03 c3    \tadd    ax,bx" by address.
inline std::map<uint32_t, Decoded> parseObjdump(const std::string& out) {
    std::map<uint32_t, Decoded> m;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        size_t colon = line.find(":\t");
        if (colon == std::string::npos) continue;
        char* end = nullptr;
        unsigned long addr = std::strtoul(line.c_str(), &end, 16);
        if (!end || *end != ':') continue;
        size_t t2 = line.find('\t', colon + 2);
        std::string bytes = line.substr(colon + 2, t2 == std::string::npos ? std::string::npos : t2 - colon - 2);
        Decoded d;
        std::istringstream bs(bytes);
        std::string b;
        while (bs >> b) ++d.len;
        if (t2 != std::string::npos) {
            std::string t = line.substr(t2 + 1);
            std::string norm;
            bool space = false;
            for (char c : t) {
                if (c == ' ' || c == '\t') {
                    space = true;
                    continue;
                }
                if (space && !norm.empty()) norm += ' ';
                space = false;
                norm += c;
            }
            // The accumulator's direct-address forms (A0-A3) print without a size.
            for (const char* kw : {"DWORD PTR ds:", "WORD PTR ds:", "BYTE PTR ds:"}) {
                size_t p = norm.find(kw);
                if (p != std::string::npos) norm.erase(p, std::strlen(kw) - 3);
            }
            d.text = norm;
        }
        m[uint32_t(addr)] = d;
    }
    return m;
}

inline int runShell(const std::string& cmd) {
    int r = std::system(cmd.c_str());
    return WIFEXITED(r) ? WEXITSTATUS(r) : -1;
}

// Intel-syntax source assembled by `as --32` in dir (gas.s to gas.o); the
// bytes of its .text.
inline bool gasText(const std::filesystem::path& dir, const std::string& source, std::string& out) {
    std::ofstream(dir / "gas.s", std::ios::binary) << source;
    const std::string d = dir.string();
    return runShell("as --32 -o " + d + "/gas.o " + d + "/gas.s") == 0 && elfText(readFile(dir / "gas.o"), out);
}

// For each line of Intel-syntax text, whether `as` takes it without an
// error or a warning. A line Tavik refuses on purpose where `as` takes it
// is marked so in its table, and this tells the mark is still true.
inline std::vector<bool> gasAccepts(uint32_t bits, const std::vector<std::string>& lines) {
    namespace fs = std::filesystem;
    std::vector<bool> ok(lines.size(), false);
    char tmpl[] = "/tmp/tavik_gasok_XXXXXX";
    if (!mkdtemp(tmpl)) return ok;
    const fs::path dir = tmpl;
    std::string src = std::string(".intel_syntax noprefix\n") + (bits == 16 ? ".code16\n" : ".code32\n");
    for (const std::string& l : lines) src += l + "\n";
    std::ofstream(dir / "a.s") << src;
    runShell("cd '" + dir.string() + "' && as --32 -o a.o a.s 2>a.err");
    std::fill(ok.begin(), ok.end(), true);
    std::istringstream err(readFile(dir / "a.err"));
    for (std::string line; std::getline(err, line);) {
        if (line.rfind("a.s:", 0) != 0) continue;
        const size_t n = std::strtoul(line.c_str() + 4, nullptr, 10);
        if (n > 2 && n - 2 <= ok.size()) ok[n - 3] = false;
    }
    fs::remove_all(dir);
    return ok;
}

inline std::string hexBytes(const std::string& s) {
    std::string r;
    char b[4];
    for (unsigned char c : s) {
        std::snprintf(b, sizeof b, "%02x ", c);
        r += b;
    }
    if (!r.empty()) r.pop_back();
    return r;
}

struct DiffReport {
    size_t cases = 0;
    size_t sameBytes = 0;
    size_t sameText = 0;
    std::vector<std::string> failures;
};

// Checks our bytes of each case (one instruction, or a sequence of up to
// maxInsns instructions in larger slots) against `as` of its Intel-syntax
// text; the texts of a sequence are separated with ";". `as` always takes
// the shortest form, so ours may not be longer than its bytes, except in the
// cases marked in `longer`, which must be longer.
inline DiffReport compareWithBinutils(uint32_t bits, const std::vector<std::string>& ours,
                                      const std::vector<std::string>& texts, uint32_t maxInsns = 1,
                                      const std::vector<bool>& longer = {}) {
    const uint32_t SLOT = maxInsns == 1 ? 16 : 64;
    DiffReport rep;
    rep.cases = ours.size();
    std::string src = ".intel_syntax noprefix\n";
    if (bits == 16) src += ".code16\n";
    for (size_t k = 0; k < ours.size(); ++k) {
        if (ours[k].empty() || ours[k].size() >= SLOT)
            rep.failures.push_back(texts[k] + ": " + std::to_string(ours[k].size()) + " bytes");
        src += ".org " + std::to_string(k * SLOT) + ", 0x90\n" + texts[k] + "\n";
    }
    src += ".org " + std::to_string(ours.size() * SLOT) + ", 0x90\n";
    if (!rep.failures.empty()) return rep;

    namespace fs = std::filesystem;
    char tmpl[] = "/tmp/tavik_encdiff_XXXXXX";
    if (!mkdtemp(tmpl)) {
        rep.failures.push_back("no temporary folder");
        return rep;
    }
    fs::path dir = tmpl;
    std::ofstream(dir / "c.s") << src;
    std::string asCmd = "as --32 -o '" + (dir / "c.o").string() + "' '" + (dir / "c.s").string() + "' 2>'" +
                        (dir / "as.err").string() + "'";
    if (runShell(asCmd) != 0) {
        std::string err = readFile(dir / "as.err");
        rep.failures.push_back("as failed:\n" + err.substr(0, 4000));
        fs::remove_all(dir);
        return rep;
    }
    std::string text;
    if (!elfText(readFile(dir / "c.o"), text)) {
        rep.failures.push_back("no .text in the object of as");
        fs::remove_all(dir);
        return rep;
    }
    const uint32_t half = uint32_t(ours.size()) * SLOT;
    text.resize(half, char(0x90));
    std::string bin(half, char(0x90));
    for (size_t k = 0; k < ours.size(); ++k) bin.replace(k * SLOT, ours[k].size(), ours[k]);
    bin += text;
    std::ofstream(dir / "c.bin", std::ios::binary) << bin;
    std::string odCmd = std::string("objdump -D -b binary -m ") + (bits == 16 ? "i8086" : "i386") +
                        " -M intel --insn-width=16 '" + (dir / "c.bin").string() + "' >'" + (dir / "od.txt").string() +
                        "' 2>&1";
    int odr = runShell(odCmd);
    std::string od = readFile(dir / "od.txt");
    fs::remove_all(dir);
    if (odr != 0) {
        rep.failures.push_back("objdump failed:\n" + od.substr(0, 2000));
        return rep;
    }
    std::map<uint32_t, Decoded> dec = parseObjdump(od);
    for (size_t k = 0; k < ours.size(); ++k) {
        const std::string& mine = ours[k];
        const uint32_t a = uint32_t(k * SLOT), b = half + uint32_t(k * SLOT);
        std::string what = texts[k] + " [ours " + hexBytes(mine) + "]";
        // Our bytes must decode into whole instructions, exactly filling our length.
        std::string mineText, reason;
        uint32_t pos = a, n = 0;
        while (pos < a + mine.size() && reason.empty()) {
            auto d = dec.find(pos);
            if (d == dec.end() || d->second.len == 0) reason = "no instruction at +" + std::to_string(pos - a);
            else if (d->second.text.find("(bad)") != std::string::npos) reason = "objdump reads (bad)";
            else {
                mineText += (n++ ? "; " : "") + d->second.text;
                pos += d->second.len;
            }
        }
        if (reason.empty() && pos != a + mine.size())
            reason = "objdump's last instruction runs " + std::to_string(pos - a - mine.size()) + " bytes past ours";
        if (reason.empty() && n > maxInsns) reason = "objdump reads " + std::to_string(n) + " instructions";
        if (!reason.empty()) {
            rep.failures.push_back(what + ": " + reason + " ('" + mineText + "')");
            continue;
        }
        // The same number of instructions from the bytes of as.
        std::string theirText;
        uint32_t q = b;
        bool ok = true;
        for (uint32_t i = 0; i < n && ok; ++i) {
            auto d = dec.find(q);
            ok = d != dec.end() && d->second.len && d->second.text.find("(bad)") == std::string::npos;
            if (ok) {
                theirText += (i ? "; " : "") + d->second.text;
                q += d->second.len;
            }
        }
        std::string theirs = text.substr(k * SLOT, q - b);
        if (!ok || (theirs != mine && theirText != mineText)) {
            rep.failures.push_back(what + " '" + mineText + "' but as gives [" + hexBytes(theirs) + "] '" + theirText +
                                   "'");
            continue;
        }
        const bool marked = k < longer.size() && longer[k];
        if (marked != (mine.size() > theirs.size()))
            rep.failures.push_back(what + (marked ? " is marked longer, but as gives" : " is longer than as gives") +
                                   " [" + hexBytes(theirs) + "]");
        else if (theirs == mine) ++rep.sameBytes;
        else ++rep.sameText;
    }
    return rep;
}

// Encodes every case in the given bit mode and checks it against as/objdump.
inline DiffReport runDiffBatch(uint32_t bits, const std::vector<DiffCase>& cases, TTavAssembler& asmb,
                               uint32_t maxInsns = 1) {
    const uint32_t savedBits = CompileFlags.cpu_bits, savedPtr = ptrSize;
    CompileFlags.cpu_bits = bits;
    ptrSize = bits / 8;
    std::vector<std::string> ours(cases.size()), texts(cases.size());
    std::vector<bool> longer(cases.size());
    std::vector<std::string> refused;
    for (size_t k = 0; k < cases.size(); ++k) {
        std::vector<TOperand> ops;
        for (const Opnd& o : cases[k].ops) ops.push_back(o.op);
        POperand p[3] = {nullptr, nullptr, nullptr};
        for (size_t i = 0; i < ops.size() && i < 3; ++i) p[i] = &ops[i];
        uint32_t r = asmb.assemble(TTavAssembler::opcodeLookup(cases[k].mn), p[0], p[1], p[2]);
        ours[k] = asmb.popCode();
        texts[k] = caseText(cases[k]);
        longer[k] = cases[k].longer;
        if (r) refused.push_back(texts[k] + ": refused with " + std::to_string(r));
    }
    CompileFlags.cpu_bits = savedBits;
    ptrSize = savedPtr;
    if (!refused.empty()) {
        DiffReport rep;
        rep.cases = cases.size();
        rep.failures = refused;
        return rep;
    }
    return compareWithBinutils(bits, ours, texts, maxInsns, longer);
}

}  // namespace enctest
