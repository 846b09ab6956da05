#pragma once
// Lines the encoder refuses, each checked against `as --32` as well: a line
// `as` refuses too is refused by both, and a line `as` accepts is marked as
// refused on purpose. Either way the encoder must go on refusing it: a
// change that starts to accept one fails here.
#include <set>

#include "diff_harness.h"

namespace enctest {

struct RefusalCase {
    DiffCase c;
    bool asAccepts;  // refused on purpose: `as` builds the same line
};

// The failures: lines the encoder accepts, and lines whose acceptance by
// `as` is not as marked.
inline std::vector<std::string> checkRefusals(uint32_t bits, const std::vector<RefusalCase>& cases,
                                              TTavAssembler& asmb) {
    std::vector<std::string> failures;
    const uint32_t savedBits = CompileFlags.cpu_bits, savedPtr = ptrSize;
    CompileFlags.cpu_bits = bits;
    ptrSize = bits / 8;
    std::string src = ".intel_syntax noprefix\n";
    if (bits == 16) src += ".code16\n";
    const uint32_t firstLine = bits == 16 ? 3 : 2;
    for (const RefusalCase& rc : cases) {
        std::vector<TOperand> ops;
        for (const Opnd& o : rc.c.ops) ops.push_back(o.op);
        POperand p[3] = {nullptr, nullptr, nullptr};
        for (size_t i = 0; i < ops.size() && i < 3; ++i) p[i] = &ops[i];
        const uint32_t r = asmb.assemble(TTavAssembler::opcodeLookup(rc.c.mn), p[0], p[1], p[2]);
        const std::string bytes = asmb.popCode();
        if (r == 0) failures.push_back(caseText(rc.c) + ": accepted as [" + hexBytes(bytes) + "]");
        src += caseText(rc.c) + "\n";
    }
    CompileFlags.cpu_bits = savedBits;
    ptrSize = savedPtr;

    namespace fs = std::filesystem;
    char tmpl[] = "/tmp/tavik_refusal_XXXXXX";
    if (!mkdtemp(tmpl)) return {"no temporary folder"};
    const fs::path dir = tmpl;
    std::ofstream(dir / "r.s") << src;
    runShell("as --32 -o '" + (dir / "r.o").string() + "' '" + (dir / "r.s").string() + "' 2>'" +
             (dir / "as.err").string() + "'");
    const std::string err = readFile(dir / "as.err");
    fs::remove_all(dir);
    // "r.s:N: Error: ..." names each line as refuses.
    std::set<uint32_t> refusedLines;
    std::istringstream in(err);
    for (std::string line; std::getline(in, line);) {
        const size_t a = line.find(".s:"), b = line.find(": Error:");
        if (a != std::string::npos && b != std::string::npos && b > a + 3)
            refusedLines.insert(uint32_t(std::stoul(line.substr(a + 3, b - a - 3))));
    }
    for (size_t k = 0; k < cases.size(); ++k) {
        const bool asRefuses = refusedLines.count(firstLine + uint32_t(k)) != 0;
        if (cases[k].asAccepts == asRefuses)
            failures.push_back(caseText(cases[k].c) + (asRefuses ? ": as refuses it, marked as accepted by as"
                                                                 : ": as accepts it; mark it refused on purpose"));
    }
    return failures;
}

}  // namespace enctest
