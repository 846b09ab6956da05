// The shipped plug-in loaded as the host loads it, driven through a test
// host's service table. The images it writes are checked with binutils and
// python3-pefile and run under wine.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>

#include "test_host.h"
#include "../require_tool.h"

using namespace morvel_test;
namespace fs = std::filesystem;

namespace {

TDLLEntry entry() {
    static TDLLEntry fn = [] {
        void* lib = dlopen(MORVEL_DLL, RTLD_NOW | RTLD_LOCAL);
        if (!lib) throw std::runtime_error(std::string("dlopen: ") + dlerror());
        return reinterpret_cast<TDLLEntry>(dlsym(lib, "onEntry"));
    }();
    return fn;
}

// A host with the plug-in entered, as after loading.
struct Loaded : TestHost {
    Loaded() { loadName = entry()(table()); }
};

struct Result {
    int code = -1;
    std::string out;
};

Result run(const std::string& cmd) {
    Result r;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    std::array<char, 4096> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
    int st = pclose(p);
    r.code = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

std::string work(const std::string& name) {
    fs::create_directories(MORVEL_WORK_DIR);
    return std::string(MORVEL_WORK_DIR) + "/" + name;
}

bool haveTool(const std::string& tool) { return run("command -v " + tool + " >/dev/null 2>&1").code == 0; }

bool havePefile() { return run("/usr/bin/python3 -c 'import pefile' >/dev/null 2>&1").code == 0; }

// pefile checks: the script sees the image as `pe` and `data`; failures raise.
Result pefile(const std::string& image, const std::string& checks) {
    std::string path = image + ".check.py";
    std::ofstream(path) << "import sys, pefile\n"
                           "data = open(sys.argv[1], 'rb').read()\n"
                           "pe = pefile.PE(sys.argv[1])\n"
                        << checks << "\nprint('checked')\n";
    return run("/usr/bin/python3 " + path + " " + image + " 2>&1");
}

std::string winePrefix() {
    const char* env = std::getenv("WINEPREFIX");
    return env && *env ? env : std::string(TAVIK_BUILD_DIR) + "/wineprefix";
}

// Runs a PE image under wine in its own folder; the shared prefix is
// created once, under a lock, by whichever test gets there first.
Result wine(const std::string& image, const std::string& debug = "-all") {
    std::string prefix = winePrefix();
    std::string env = "WINEPREFIX='" + prefix + "' WINEDLLOVERRIDES='mscoree,mshtml=' ";
    run("flock '" + prefix + ".lock' sh -c \"test -d '" + prefix + "' || " + env +
        "WINEDEBUG=-all timeout 300 wineboot -i >/dev/null 2>&1\"");
    // A server that outlives each program by a few seconds: tests that follow
    // one another must not reach a server that is shutting down.
    run(env + "wineserver -p10 >/dev/null 2>&1");
    fs::path p(image);
    // The program's output goes to a file, not to our pipe: wine's service
    // processes inherit the descriptors of the run that starts them and would
    // hold a pipe open long after the program ended.
    std::string outFile = image + ".out";
    std::string cmd = "cd '" + p.parent_path().string() + "' && " + env + "WINEDEBUG=" + debug + " timeout 60 wine '" +
                      p.filename().string() + "' >'" + outFile + "' 2>&1 </dev/null";
    // A wine process killed from outside (137: SIGKILL, which no image here
    // can cause: a crash inside the program ends with its exception code) is
    // the wine server going away under load; such a run is repeated.
    Result r = run(cmd);
    for (int again = 0; again < 2 && r.code == 137; ++again) {
        std::fprintf(stderr, "wine was killed from outside; running %s again\n", image.c_str());
        run(env + "wineserver -p10 >/dev/null 2>&1");
        r = run(cmd);
    }
    std::ifstream in(outFile, std::ios::binary);
    r.out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return r;
}

std::vector<uint8_t> nops(size_t n, uint8_t b = 0x90) { return std::vector<uint8_t>(n, b); }

std::vector<uint8_t> cat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> r;
    for (auto& p : parts) r.insert(r.end(), p.begin(), p.end());
    return r;
}

const char* const kHello = "Hello, Tavik!\n";

// A console program: GetStdHandle, WriteFile of a constant, ExitProcess(3).
void makeHello(TestHost& h) {
    uint32_t k32 = h.addLibrary("kernel32.dll");
    PFunction getStd = h.addImport(k32, "GetStdHandle");
    PFunction write = h.addImport(k32, "WriteFile");
    PFunction exitp = h.addImport(k32, "ExitProcess");
    PConst msg = h.addConst(ctAnsiString, kHello);
    PVar written = h.addVar("written", 4, 1, false);
    h.addVar("unused", 4, 1, true, {1, 2, 3, 4});
    PFunction main = h.func(0);
    h.setCode(main, {0x6A, 0xF5, 0xE8, 0, 0,    0,    0, 0x89, 0xC3, 0x6A, 0x00, 0x68, 0,    0, 0, 0, 0x6A, 0x0E, 0x68,
                     0,    0,    0,    0, 0x53, 0xE8, 0, 0,    0,    0,    0x6A, 0x03, 0xE8, 0, 0, 0, 0,    0xC3});
    h.addFixup(main, ftLabel, 3, 4, getStd->FuncIndex);
    h.addDataFixup(main, ftVar, 12, written);
    h.addDataFixup(main, ftConst, 19, msg);
    h.addFixup(main, ftLabel, 25, 4, write->FuncIndex);
    h.addFixup(main, ftLabel, 32, 4, exitp->FuncIndex);
}

}  // namespace

TEST(MorvelLibrary, ExportsOnlyOnEntryAndNeedsNothingOfTavik) {
    REQUIRE_TOOL(haveTool("nm"), "nm (binutils)");
    Result defined = run("nm -D --defined-only " MORVEL_DLL);
    ASSERT_EQ(defined.code, 0);
    std::istringstream lines(defined.out);
    std::vector<std::string> names;
    for (std::string line; std::getline(lines, line);) names.push_back(line.substr(line.rfind(' ') + 1));
    EXPECT_EQ(names, std::vector<std::string>{"onEntry"}) << defined.out;
    // Everything it needs comes from the system libraries it names, none
    // of them the assembler's: every undefined symbol is defined there.
    Result needed = run("objdump -p " MORVEL_DLL " | awk '/NEEDED/ {print $2}'");
    EXPECT_EQ(needed.out.find("tavik"), std::string::npos) << needed.out;
    Result provided = run("for l in $(ldd " MORVEL_DLL
                          " | awk '/=>/ {print $3}'); do nm -D --defined-only $l; done"
                          " | awk '{print $NF}' | sed 's/@.*//' | sort -u");
    Result undefined = run("nm -D --undefined-only " MORVEL_DLL " | awk '$1 == \"U\" {print $2}' | sed 's/@.*//'");
    std::set<std::string> have;
    std::istringstream p(provided.out);
    for (std::string line; std::getline(p, line);) have.insert(line);
    std::istringstream u(undefined.out);
    int count = 0;
    for (std::string name; std::getline(u, name); ++count) EXPECT_TRUE(have.count(name)) << name;
    EXPECT_GT(count, 0);
}

TEST(MorvelEntry, NameBuildersAndStartTexts) {
    Loaded h;
    EXPECT_EQ(h.loadName, "Tavik Linker");
    EXPECT_EQ(h.builderNames, (std::vector<std::string>{"PE32_GUI", "PE32_CUI", "PE32_DLL", "RAW_IMAGE"}));
    struct {
        const char* builder;
        const char* text;
    } cases[] = {
        {"pe32_gui", "#define WIN32; #set bits 32; #define APPTYPE_GUI;"},
        {"pe32_cui", "#define WIN32; #set bits 32; #define APPTYPE_CUI;"},
        {"pe32_dll", "#define WIN32; #set bits 32; #define APPTYPE_DLL; #set relocations 1;"},
        {"raw_image", "#define RAW_IMAGE; #set bits 16;"},
    };
    for (auto& c : cases) {
        h.executed.clear();
        EXPECT_TRUE(h.start(c.builder));
        EXPECT_EQ(h.executed, std::vector<std::string>{c.text}) << c.builder;
    }
}

TEST(MorvelEntry, NamesTakenByAnotherPluginKeepTheFirst) {
    TestHost h;
    auto other = [](TTriggerEvent, uint32_t) -> TAVBOOL { return 1; };
    h.table()->RegisterBuilder("pe32_cui", +other);
    h.loadName = entry()(h.table());
    EXPECT_EQ(h.builderNames, (std::vector<std::string>{"PE32_CUI", "PE32_GUI", "PE32_DLL", "RAW_IMAGE"}));
    // Our builders keep working under the names they did get.
    h.executed.clear();
    EXPECT_TRUE(h.start("pe32_gui"));
    EXPECT_EQ(h.executed, std::vector<std::string>{"#define WIN32; #set bits 32; #define APPTYPE_GUI;"});
}

// ---- raw boot images ----

namespace {

constexpr size_t kFloppy = 1474560;

uint32_t le(const std::vector<uint8_t>& b, size_t at, int n) {
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = (v << 8) | b.at(at + i);
    return v;
}

}  // namespace

TEST(MorvelRaw, SmallProgramFillsTheFloppy) {
    Loaded h;
    h.flags.cpu_bits = 16;
    std::vector<uint8_t> code = cat({nops(19), {0xC3}});
    h.setCode(h.func(0), code);
    ASSERT_TRUE(h.complete("raw_image"));
    EXPECT_EQ(h.ext, u"img");
    EXPECT_EQ(h.messages, std::vector<std::string>{"PlugSys: Building Raw Image!"});
    ASSERT_EQ(h.out.size(), kFloppy);
    std::vector<uint8_t> want(kFloppy, 0);
    std::copy(code.begin(), code.end(), want.begin());
    want[510] = 0x55;
    want[511] = 0xAA;
    EXPECT_TRUE(h.out == want);
}

TEST(MorvelRaw, ReferencesResolveFromTheOrigin) {
    Loaded h;
    h.flags.cpu_bits = 16;
    PFunction main = h.func(0);
    h.setCode(main, cat({nops(98), {0xC3}}));
    PFunction g = h.addFunction(ltProc, "g");
    g->IsCalled = 1;
    h.setCode(g, {0xC3});
    PFunction l = h.addLabel(main, "l", 50);
    h.addConst(ctAnsiString, "ab");
    PConst cd = h.addConst(ctAnsiString, "cd");
    h.addVar("u", 2, 1, false);
    PVar w = h.addVar("w", 2, 2, true, {1, 2, 3, 4});
    // code 100 bytes, constants at 100 (6 bytes), variables at 106
    h.addDataFixup(main, ftConst, 1, cd)->size = 2;
    h.addDataFixup(main, ftVar, 4, w, 1)->size = 2;
    h.addFixup(main, ftLabelAbs, 7, 2, l->FuncIndex);
    h.addFixup(main, ftLabel, 10, 2, g->FuncIndex);
    h.addFixup(main, ftRelative, 13, 2, l->FuncIndex, 5);
    h.addDataFixup(main, ftConst, 20, cd);
    h.addFixup(main, ftLabel, 30, 4, l->FuncIndex);
    h.addFixup(main, ftCodeRVA, 16, 2, 0);
    auto code = h.code(main);
    code[16] = 0x11;
    code[17] = 0x22;
    h.setCode(main, code);

    ASSERT_TRUE(h.complete("raw_image"));
    EXPECT_EQ(h.messages,
              (std::vector<std::string>{"PlugSys: Building Raw Image!", "PlugSys: Warning: Unknown fixup type"}));
    const auto& o = h.out;
    struct {
        size_t at;
        int n;
        uint32_t want;
        const char* what;
    } cases[] = {
        {1, 2, 0x7C00 + 100 + 3, "16-bit constant"},
        {3, 1, 0x90, "byte behind it untouched"},
        {4, 2, 0x7C00 + 100 + 6 + 2 + 1, "16-bit variable + offset"},
        {7, 2, 0x7C00 + 50, "label address"},
        {10, 2, 99 - 12, "16-bit call"},
        {13, 2, 0x7C00 + 50, "far jump target"},
        {16, 2, 0x2211, "unknown kind left alone"},
        {20, 4, 0x7C00 + 100 + 3, "32-bit constant"},
        {30, 4, 50 - 34, "32-bit relative"},
        {100, 3, 0x006261, "first constant"},
        {103, 3, 0x006463, "second constant"},
        {106, 2, 0, "uninitialised variable"},
        {108, 4, 0x04030201, "initialised variable"},
        {510, 2, 0xAA55, "boot signature"},
    };
    for (auto& c : cases) EXPECT_EQ(le(o, c.at, c.n), c.want) << c.what;
    EXPECT_EQ(o.size(), kFloppy);
}

TEST(MorvelRaw, NearJumpsFollowTheBitMode) {
    // A jump over 200 bytes, unconditional and conditional, in 16- and 32-bit code.
    struct {
        uint32_t bits;
        uint16_t cc;
        std::vector<uint8_t> head;
    } cases[] = {
        {16, 16, {0xE9, 200, 0}},
        {16, 5, {0x0F, 0x85, 200, 0}},
        {32, 16, {0xE9, 200, 0, 0, 0}},
        {32, 5, {0x0F, 0x85, 200, 0, 0, 0}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.bits) + " bits, condition " + std::to_string(c.cc));
        Loaded h;
        h.flags.cpu_bits = c.bits;
        PFunction main = h.func(0);
        h.setCode(main, cat({nops(7), nops(200), {0xC3}}));
        PFunction l = h.addLabel(main, "l", 207);
        h.addFixup(main, ftJmp, 0, 7, l->FuncIndex, 0, c.cc);
        ASSERT_TRUE(h.complete("raw_image"));
        EXPECT_TRUE(std::equal(c.head.begin(), c.head.end(), h.out.begin()));
        EXPECT_EQ(h.out.at(c.head.size() + 200), 0xC3);
        EXPECT_EQ(h.out.at(c.head.size() + 201), 0);
    }
}

TEST(MorvelRaw, FailuresStopTheBuild) {
    struct Case {
        const char* what;
        std::vector<uint8_t> code;
        bool constRef;
        const char* message;
    };
    auto signedAt509 = [](size_t total) { return cat({nops(509), {0xB8, 0x55, 0xAA}, nops(total - 512)}); };
    Case cases[] = {
        {"511 bytes", nops(511), false,
         "FATAL PlugSys: Boot program exceeds 510 bytes: the first sector has no boot signature"},
        {"over the floppy", signedAt509(kFloppy - 1), false,
         "FATAL PlugSys: Size of file exceeds the size of a floppy"},
        {"constant beyond 64 KB", signedAt509(0x8400), true,
         "FATAL PlugSys: Address 0x10000 does not fit in 16 bits in rtlmain"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        Loaded h;
        h.flags.cpu_bits = 16;
        h.setCode(h.func(0), c.code);
        if (c.constRef) h.addDataFixup(h.func(0), ftConst, 0, h.addConst(ctAnsiString, "x"))->size = 2;
        EXPECT_THROW(h.complete("raw_image"), HostAbort);
        EXPECT_EQ(h.messages.back(), c.message);
    }
    // What just fits: the floppy exactly, the constant at 0xFFFF, and a
    // longer program that carries the signature itself.
    struct {
        size_t total;
        bool constRef;
    } fits[] = {{kFloppy - 2, false}, {0x83FF, true}, {600, false}};
    for (auto& c : fits) {
        SCOPED_TRACE(c.total);
        Loaded h;
        h.flags.cpu_bits = 16;
        h.setCode(h.func(0), signedAt509(c.total));
        if (c.constRef) h.addDataFixup(h.func(0), ftConst, 0, h.addConst(ctAnsiString, "x"))->size = 2;
        ASSERT_TRUE(h.complete("raw_image"));
        EXPECT_EQ(h.out.size(), kFloppy);
        EXPECT_EQ(le(h.out, 510, 2), 0xAA55u);
        size_t end = c.total + (c.constRef ? 2 : 0);
        EXPECT_EQ(le(h.out, end, 2), 0xAA55u);
        if (c.constRef) {
            EXPECT_EQ(le(h.out, 0, 2), 0xFFFFu);
        }
    }
}

TEST(MorvelPE, ConsoleProgramStructure) {
    Loaded h;
    makeHello(h);
    ASSERT_TRUE(h.complete("pe32_cui"));
    EXPECT_EQ(h.ext, u"exe");
    EXPECT_EQ(h.messages, std::vector<std::string>{"PlugSys: Building Executable File!"});
    std::string image = work("hello.exe");
    h.writeOutput(image);

    REQUIRE_TOOL(haveTool("objdump"), "objdump (binutils)");
    {
        Result p = run("objdump -p " + image);
        EXPECT_NE(p.out.find("file format pei-i386"), std::string::npos) << p.out;
        EXPECT_NE(p.out.find("(Windows CUI)"), std::string::npos) << p.out;
        EXPECT_NE(p.out.find("DLL Name: kernel32.dll"), std::string::npos) << p.out;
        Result s = run("objdump -h " + image);
        EXPECT_TRUE(std::regex_search(s.out, std::regex(R"(\.root\s+0+\w+\s+00401000)"))) << s.out;
    }
    REQUIRE_TOOL(havePefile(), "python3-pefile");
    Result r = pefile(image, R"(
fh, oh = pe.FILE_HEADER, pe.OPTIONAL_HEADER
assert fh.Machine == 0x14C and fh.Characteristics == 0x818F and fh.NumberOfSections == 3
assert fh.SizeOfOptionalHeader == 224 and oh.Magic == 0x10B
assert data[0x38:0x3C] == b'TAV1' and pe.DOS_HEADER.e_lfanew == 0x80
assert oh.ImageBase == 0x400000 and oh.SectionAlignment == 4096 and oh.FileAlignment == 512
assert oh.SizeOfHeaders == 512 and oh.Subsystem == 3 and oh.NumberOfRvaAndSizes == 16
names = [s.Name.rstrip(b'\0') for s in pe.sections]
assert names == [b'.root', b'.data', b'.code'], names
flags = [s.Characteristics for s in pe.sections]
assert flags == [0x40000040, 0xC00000C0, 0x60000020], flags
prev_end = 0
for s in pe.sections:
    assert s.PointerToRawData % 512 == 0 and s.VirtualAddress % 4096 == 0
    assert s.PointerToRawData + s.SizeOfRawData <= len(data)
    assert s.VirtualAddress >= prev_end, 'sections overlap'
    prev_end = s.VirtualAddress + s.Misc_VirtualSize
root, dat, code = pe.sections
assert root.VirtualAddress == 0x1000 and root.PointerToRawData == 512
assert dat.SizeOfRawData == 512 and dat.Misc_VirtualSize == 8
assert oh.BaseOfCode == code.VirtualAddress and oh.BaseOfData == dat.VirtualAddress
assert oh.AddressOfEntryPoint == code.VirtualAddress
assert oh.SizeOfImage == code.VirtualAddress + 4096
assert oh.SizeOfCode == 512
imp = pe.DIRECTORY_ENTRY_IMPORT
assert [e.dll for e in imp] == [b'kernel32.dll']
assert [i.name for i in imp[0].imports] == [b'GetStdHandle', b'WriteFile', b'ExitProcess']
assert not hasattr(pe, 'DIRECTORY_ENTRY_EXPORT') and not hasattr(pe, 'DIRECTORY_ENTRY_BASERELOC')
# every thunk jumps through its own address table slot
for n, i in enumerate(imp[0].imports):
    thunk = code.VirtualAddress + 37 + 6 * n
    off = pe.get_offset_from_rva(thunk)
    assert data[off:off+2] == b'\xff\x25'
    assert int.from_bytes(data[off+2:off+6], 'little') == i.address, (hex(i.address),)
)");
    EXPECT_EQ(r.code, 0) << r.out;
}

TEST(MorvelPE, ConsoleProgramRunsUnderWine) {
    REQUIRE_TOOL(haveTool("wine"), "wine");
    Loaded h;
    makeHello(h);
    ASSERT_TRUE(h.complete("pe32_cui"));
    std::string image = work("hello_run.exe");
    h.writeOutput(image);
    Result r = wine(image);
    EXPECT_EQ(r.out, kHello);
    EXPECT_EQ(r.code, 3);
}

TEST(MorvelPE, GuiBuildDiffersOnlyInSubsystem) {
    Loaded cui;
    makeHello(cui);
    ASSERT_TRUE(cui.complete("pe32_cui"));
    Loaded gui2;
    makeHello(gui2);
    ASSERT_TRUE(gui2.complete("pe32_gui"));
    EXPECT_EQ(gui2.ext, u"exe");
    ASSERT_EQ(cui.out.size(), gui2.out.size());
    std::vector<size_t> diff;
    for (size_t i = 0; i < cui.out.size(); ++i)
        if (cui.out[i] != gui2.out[i]) diff.push_back(i);
    // Subsystem: PE signature at 0x80, file header 20 bytes, field at 68.
    EXPECT_EQ(diff, std::vector<size_t>{0x80 + 4 + 20 + 68});
    EXPECT_EQ(cui.out[0xDC], 3);
    EXPECT_EQ(gui2.out[0xDC], 2);
}

namespace {

struct JumpProgram {
    PFunction p, q, skip, bad;
};

// rtlmain calls q (no locals: placeholder removed) and p (one local: sub
// esp, 4; a short jmp over three int3; a jne over more than 127 bytes), then
// exits with p's result, 5.
JumpProgram makeJumps(TestHost& h) {
    uint32_t k32 = h.addLibrary("kernel32.dll");
    JumpProgram j;
    j.q = h.addFunction(ltProc, "q");
    j.q->IsCalled = 1;
    h.setCode(j.q, cat({{0x55, 0x89, 0xE5}, nops(6), {0x31, 0xC0, 0xC9, 0xC3}}));
    h.addFixup(j.q, ftLocals, 3, 6, 0);
    j.p = h.addFunction(ltProc, "p");
    j.p->IsCalled = 1;
    j.p->LocalCount = 1;
    j.p->LocalSize = 4;
    h.setCode(j.p, cat({{0x55, 0x89, 0xE5},
                        nops(6),
                        {0xC7, 0x45, 0xFC, 0x05, 0, 0, 0},
                        nops(7),
                        {0xCC, 0xCC, 0xCC},
                        {0x83, 0x7D, 0xFC, 0x05},
                        nops(7),
                        {0x8B, 0x45, 0xFC, 0xC9, 0xC3},
                        nops(200),
                        {0xB8, 0x63, 0, 0, 0, 0xC9, 0xC3}}));
    j.skip = h.addLabel(j.p, "skip", 26);
    j.bad = h.addLabel(j.p, "bad", 242);
    h.addFixup(j.p, ftLocals, 3, 6, 0);
    h.addFixup(j.p, ftJmp, 16, 7, j.skip->FuncIndex, 0, jtJMP);
    h.addFixup(j.p, ftJmp, 30, 7, j.bad->FuncIndex, 0, jtJNE);
    PFunction exitp = h.addImport(k32, "ExitProcess");
    PFunction main = h.func(0);
    h.setCode(main, {0xE8, 0, 0, 0, 0, 0xE8, 0, 0, 0, 0, 0x50, 0xE8, 0, 0, 0, 0, 0xC3});
    h.addFixup(main, ftLabel, 1, 4, j.q->FuncIndex);
    h.addFixup(main, ftLabel, 6, 4, j.p->FuncIndex);
    h.addFixup(main, ftLabel, 12, 4, exitp->FuncIndex);
    return j;
}

std::string hex(uint32_t v) {
    char b[16];
    std::snprintf(b, sizeof b, "%x", v);
    return b;
}

}  // namespace

TEST(MorvelPE, JumpFormsAndLocalsDisassemble) {
    Loaded h;
    JumpProgram j = makeJumps(h);
    ASSERT_TRUE(h.complete("pe32_cui"));
    std::string image = work("jumps.exe");
    h.writeOutput(image);
    EXPECT_EQ(j.q->BufLen, 7u);  // the empty placeholder is gone
    REQUIRE_TOOL(haveTool("objdump"), "objdump (binutils)");
    Result d = run("objdump -d -M intel " + image);
    ASSERT_EQ(d.code, 0) << d.out;
    const uint32_t code = 0x402000;
    uint32_t p = code + j.p->Address;
    auto line = [&](uint32_t at, const std::string& bytes, const std::string& text) {
        std::regex re("\\n\\s*" + hex(at) + ":\\s+" + bytes + "\\s+" + text);
        EXPECT_TRUE(std::regex_search(d.out, re)) << hex(at) << " " << text << "\n" << d.out;
    };
    line(code + j.q->Address + 3, "31 c0", "xor\\s+eax,eax");
    line(p + 3, "81 ec 04 00 00 00", "sub\\s+esp,0x4");
    line(p + 16, "eb 03", "jmp\\s+(0x)?" + hex(p + 21));
    line(p + 18, "cc", "int3");
    line(p + 21, "83 7d fc 05", "cmp\\s+DWORD PTR \\[ebp-0x4\\],0x5");
    line(p + 25, "0f 85 cd 00 00 00", "jne\\s+(0x)?" + hex(p + 236));
    EXPECT_EQ(j.bad->Address, 242u - 5 - 1);
    EXPECT_EQ(j.skip->Address, 26u - 5);
    line(p + j.bad->Address, "b8 63 00 00 00", "mov\\s+eax,0x63");
    REQUIRE_TOOL(haveTool("wine"), "wine");
    Result r = wine(image);
    EXPECT_EQ(r.code, 5) << r.out;
}

TEST(MorvelPE, EmptyRootStillGetsItsOwnPlace) {
    Loaded h;
    h.setCode(h.func(0), {0xB8, 0x03, 0, 0, 0, 0xC3});  // mov eax, 3; ret
    ASSERT_TRUE(h.complete("pe32_cui"));
    std::string image = work("empty_root.exe");
    h.writeOutput(image);
    EXPECT_EQ(h.out.size(), 3u * 512);
    REQUIRE_TOOL(havePefile(), "python3-pefile");
    {
        Result r = pefile(image, R"(
root, code = pe.sections
assert root.VirtualAddress == 0x1000 and code.VirtualAddress == 0x2000
assert root.PointerToRawData == 512 and root.SizeOfRawData == 512
assert code.PointerToRawData == 1024 and data[1024:1030] == b'\xb8\x03\x00\x00\x00\xc3'
assert pe.OPTIONAL_HEADER.AddressOfEntryPoint == 0x2000 and pe.OPTIONAL_HEADER.SizeOfImage == 0x3000
)");
        EXPECT_EQ(r.code, 0) << r.out;
    }
    REQUIRE_TOOL(haveTool("wine"), "wine");
    Result r = wine(image);
    EXPECT_EQ(r.code, 3) << r.out;
}

TEST(MorvelPE, EntryLabelInsideProcedure) {
    Loaded h;
    uint32_t k32 = h.addLibrary("kernel32.dll");
    PFunction exitp = h.addImport(k32, "ExitProcess");
    PFunction main = h.func(0);
    h.setCode(main, {0x6A, 0x09, 0xE8, 0, 0, 0, 0});
    h.addFixup(main, ftLabel, 3, 4, exitp->FuncIndex);
    PFunction proc = h.addFunction(ltProc, "proc");
    proc->IsCalled = 1;
    h.setCode(proc, {0xCC, 0x6A, 0x04, 0xE8, 0, 0, 0, 0});
    h.addFixup(proc, ftLabel, 4, 4, exitp->FuncIndex);
    PFunction start = h.addLabel(proc, "start", 1);
    h.flags.entry_funcid = start->FuncIndex;
    ASSERT_TRUE(h.complete("pe32_cui"));
    std::string image = work("entry_label.exe");
    h.writeOutput(image);
    uint32_t ep = h.out[0x80 + 24 + 16] | h.out[0x80 + 24 + 17] << 8 | h.out[0x80 + 24 + 18] << 16;
    EXPECT_EQ(ep, 0x2000 + proc->Address + 1);
    REQUIRE_TOOL(haveTool("wine"), "wine");
    EXPECT_EQ(wine(image).code, 4);
}

TEST(MorvelPE, EntriesAndExportsWithoutCodeAreErrors) {
    struct Case {
        const char* what;
        int kind;
        const char* message;
    };
    Case cases[] = {
        {"entry without code", 0, "FATAL PlugSys: Entry point empty has no code"},
        {"entry label at the end of its parent", 1, "FATAL PlugSys: Entry point tail has no code"},
        {"export without code", 2, "FATAL PlugSys: Export empty has no code"},
        {"entry index beyond the functions", 3, "FATAL PlugSys: Entry point does not exist"},
        {"call to a function without code", 4, "FATAL PlugSys: Reference from rtlmain to empty, which has no code"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        Loaded h;
        h.setCode(h.func(0), {0xE8, 0, 0, 0, 0, 0xC3});
        PFunction empty = h.addFunction(ltProc, "empty");
        empty->IsCalled = 1;
        PFunction tail = h.addLabel(h.func(0), "tail", 6);
        if (c.kind != 4) h.addFixup(h.func(0), ftLabel, 1, 4, 0);
        else h.addFixup(h.func(0), ftLabel, 1, 4, empty->FuncIndex);
        if (c.kind == 0) h.flags.entry_funcid = empty->FuncIndex;
        if (c.kind == 1) h.flags.entry_funcid = tail->FuncIndex;
        if (c.kind == 2) {
            empty->IsExported = 1;
            h.flags.relocations = 1;  // as the DLL builder starts
        }
        if (c.kind == 3) h.flags.entry_funcid = 99;
        EXPECT_THROW(h.complete(c.kind == 2 ? "pe32_dll" : "pe32_cui"), HostAbort);
        EXPECT_EQ(h.messages.back(), c.message);
    }
}

TEST(MorvelPE, UnknownFixupKindOnlyWarns) {
    Loaded h;
    h.setCode(h.func(0), {0xB8, 0x03, 0, 0, 0, 0xC3});
    h.addFixup(h.func(0), TFixupType(12), 1, 4, 0);
    h.flags.relocations = 1;
    ASSERT_TRUE(h.complete("pe32_cui"));
    EXPECT_EQ(std::count(h.messages.begin(), h.messages.end(), "PlugSys: Warning: Unknown fixup type"), 2);
}

namespace {

struct DllProgram {
    PFunction alpha, beta, gamma, helper;
    uint32_t sites[4];  // code offsets of the absolute addresses
};

// A DLL exporting alpha, Beta and gamma; gamma and its helper lie beyond the
// first 4 KB of code, and every function reads through an absolute address.
DllProgram makeDll(TestHost& h) {
    DllProgram d;
    h.flags.relocations = 1;
    h.setCode(h.func(0), {0xB8, 0x01, 0, 0, 0, 0xC2, 0x0C, 0x00});  // mov eax, 1; ret 12
    PVar va = h.addVar("va", 4, 1, true, {0x11, 0x11, 0x11, 0x11});
    PVar vg = h.addVar("vg", 4, 1, true, {0x22, 0, 0, 0});
    PConst cb = h.addConst(ctAnsiString, "B!");
    d.alpha = h.addFunction(ltProc, "alpha");
    h.setCode(d.alpha, {0xA1, 0, 0, 0, 0, 0xC3});  // mov eax, [va]
    h.addDataFixup(d.alpha, ftVar, 1, va);
    d.beta = h.addFunction(ltProc, "Beta");
    h.setCode(d.beta, {0xB8, 0, 0, 0, 0, 0x0F, 0xB6, 0x00, 0xC3});  // movzx eax, byte ["B!"]
    h.addDataFixup(d.beta, ftConst, 1, cb);
    PFunction pad = h.addFunction(ltProc, "pad");
    pad->IsCalled = 1;
    h.setCode(pad, nops(4200, 0xCC));
    d.gamma = h.addFunction(ltProc, "gamma");
    d.helper = h.addFunction(ltProc, "helper");
    h.setCode(d.gamma, {0xB8, 0, 0, 0, 0, 0xFF, 0xD0, 0x03, 0x05, 0, 0, 0, 0, 0xC3});  // helper() + [vg]
    h.addFixup(d.gamma, ftLabelAbs, 1, 4, d.helper->FuncIndex);
    h.addDataFixup(d.gamma, ftVar, 9, vg);
    h.setCode(d.helper, {0xB8, 0x00, 0x01, 0, 0, 0xC3});
    d.helper->IsCalled = 1;
    for (PFunction f : {d.alpha, d.beta, d.gamma}) f->IsExported = f->IsCalled = 1;
    d.sites[0] = 8 + 1;
    d.sites[1] = 8 + 6 + 1;
    d.sites[2] = 8 + 6 + 9 + 4200 + 1;
    d.sites[3] = d.sites[2] + 8;
    return d;
}

// A client that calls all three and exits with 7 when each answers right.
void makeClient(TestHost& h) {
    uint32_t lib = h.addLibrary("morvel_dll.dll");
    uint32_t k32 = h.addLibrary("kernel32.dll");
    PFunction a = h.addImport(lib, "alpha");
    PFunction b = h.addImport(lib, "Beta");
    PFunction g = h.addImport(lib, "gamma");
    PFunction exitp = h.addImport(k32, "ExitProcess");
    PFunction main = h.func(0);
    h.setCode(main, cat({{0xE8, 0, 0, 0, 0, 0x3D, 0x11, 0x11, 0x11, 0x11},
                         nops(7),
                         {0xE8, 0, 0, 0, 0, 0x83, 0xF8, 0x42},
                         nops(7),
                         {0xE8, 0, 0, 0, 0, 0x3D, 0x22, 0x01, 0, 0},
                         nops(7),
                         {0x6A, 0x07, 0xE8, 0, 0, 0, 0, 0x6A, 0x01, 0xE8, 0, 0, 0, 0, 0xC3}}));
    PFunction fail = h.addLabel(main, "fail", 56);
    h.addFixup(main, ftLabel, 1, 4, a->FuncIndex);
    h.addFixup(main, ftJmp, 10, 7, fail->FuncIndex, 0, jtJNE);
    h.addFixup(main, ftLabel, 18, 4, b->FuncIndex);
    h.addFixup(main, ftJmp, 25, 7, fail->FuncIndex, 0, jtJNE);
    h.addFixup(main, ftLabel, 33, 4, g->FuncIndex);
    h.addFixup(main, ftJmp, 42, 7, fail->FuncIndex, 0, jtJNE);
    h.addFixup(main, ftLabel, 52, 4, exitp->FuncIndex);
    h.addFixup(main, ftLabel, 59, 4, exitp->FuncIndex);
}

}  // namespace

TEST(MorvelPE, DllWithExportsAndRelocationsLoadsAtAnotherBase) {
    Loaded dll;
    DllProgram d = makeDll(dll);
    ASSERT_TRUE(dll.complete("pe32_dll"));
    EXPECT_EQ(dll.ext, u"dll");
    EXPECT_EQ(dll.messages, std::vector<std::string>{"PlugSys: Building Dynamic Link Library!"});
    std::string image = work("morvel_dll.dll");
    dll.writeOutput(image);

    REQUIRE_TOOL(havePefile(), "python3-pefile");
    {
        std::string checks = "alpha, beta, gamma = " + std::to_string(d.alpha->Address) + ", " +
                             std::to_string(d.beta->Address) + ", " + std::to_string(d.gamma->Address) + "\nsites = [" +
                             std::to_string(d.sites[0]) + ", " + std::to_string(d.sites[1]) + ", " +
                             std::to_string(d.sites[2]) + ", " + std::to_string(d.sites[3]) + "]\n";
        checks += R"(
fh, oh = pe.FILE_HEADER, pe.OPTIONAL_HEADER
assert fh.Characteristics == 0x210E
code = pe.sections[-1]
exp = pe.DIRECTORY_ENTRY_EXPORT
assert exp.struct.Base == 1 and exp.struct.NumberOfFunctions == 3 and exp.struct.NumberOfNames == 3
# names sorted by their bytes; the ordinals keep each name on its function
assert [s.name for s in exp.symbols] == [b'Beta', b'alpha', b'gamma'], [s.name for s in exp.symbols]
want = {b'alpha': alpha, b'Beta': beta, b'gamma': gamma}
for s in exp.symbols:
    assert s.address == code.VirtualAddress + want[s.name], (s.name, hex(s.address))
assert sorted(s.ordinal for s in exp.symbols) == [1, 2, 3]
blocks = pe.DIRECTORY_ENTRY_BASERELOC
assert [b.struct.VirtualAddress for b in blocks] == [code.VirtualAddress, code.VirtualAddress + 0x1000]
assert all(b.struct.SizeOfBlock % 4 == 0 for b in blocks)
d = oh.DATA_DIRECTORY[5]
assert d.Size == sum(b.struct.SizeOfBlock for b in blocks)
got = [e.rva for b in blocks for e in b.entries if e.type == 3]
assert got == [code.VirtualAddress + s for s in sites], (got, sites)
# relocating the image moves every absolute address by the same amount
moved = pefile.PE(sys.argv[1])
moved.relocate_image(0x10000000)
for s in sites:
    a = pe.get_dword_at_rva(code.VirtualAddress + s)
    b = moved.get_dword_at_rva(code.VirtualAddress + s)
    assert b - a == 0x10000000 - 0x400000
)";
        Result r = pefile(image, checks);
        EXPECT_EQ(r.code, 0) << r.out;
    }

    Loaded client;
    makeClient(client);
    ASSERT_TRUE(client.complete("pe32_cui"));
    std::string exe = work("dll_client.exe");
    client.writeOutput(exe);
    {
        Result r = pefile(exe, R"(
imp = pe.DIRECTORY_ENTRY_IMPORT
assert [e.dll for e in imp] == [b'morvel_dll.dll', b'kernel32.dll']
assert [i.name for i in imp[0].imports] == [b'alpha', b'Beta', b'gamma']
)");
        EXPECT_EQ(r.code, 0) << r.out;
    }
    REQUIRE_TOOL(haveTool("wine"), "wine");
    // Both images prefer 0x400000: the loader must move the DLL.
    Result r = wine(exe, "+loaddll");
    EXPECT_EQ(r.code, 7) << r.out;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.out, m, std::regex(R"(morvel_dll\.dll" at ([0-9A-Fa-f]+))"))) << r.out;
    EXPECT_NE(std::stoul(m[1].str(), nullptr, 16), 0x400000ul) << r.out;
}

TEST(MorvelPE, FixupsThatCannotBeResolvedAreErrors) {
    struct Case {
        const char* what;
        int kind;
        const char* message;
    };
    Case cases[] = {
        {"field beyond the code", 0, "FATAL PlugSys: Fixup outside the code of rtlmain"},
        {"local variable as an absolute address", 1,
         "FATAL PlugSys: Reference from rtlmain to a variable that is not in the image"},
        {"label of a function left out", 2, "FATAL PlugSys: Reference from rtlmain to inner, which has no code"},
        {"short jump beyond its reach", 3, "FATAL PlugSys: Short jump out of range in rtlmain"},
        {"near jecxz", 4, "FATAL PlugSys: Target of jecxz out of range in rtlmain"},
        {"unknown jump condition", 5, "FATAL PlugSys: Unknown jump condition in rtlmain"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        Loaded h;
        PFunction main = h.func(0);
        h.setCode(main, cat({nops(7), {0xB8, 0, 0, 0, 0}, nops(300), {0xC3}}));
        PFunction dead = h.addFunction(ltProc, "dead");
        h.setCode(dead, nops(4));
        PFunction inner = h.addLabel(dead, "inner", 2);
        PFunction end = h.addLabel(main, "end", 312);
        switch (c.kind) {
        case 0: h.addFixup(main, ftRelative, 310, 4, 0); break;
        case 1: h.addDataFixup(main, ftVar, 8, h.addVar("loc", 4, 1, false, {}, true, vmLocal)); break;
        case 2: h.addFixup(main, ftLabelAbs, 8, 4, inner->FuncIndex); break;
        case 3: h.addFixup(main, ftJmpShort, 0, 2, end->FuncIndex); break;
        case 4: h.addFixup(main, ftJmp, 0, 7, end->FuncIndex, 0, jtJECXZ); break;
        case 5: h.addFixup(main, ftJmp, 0, 7, end->FuncIndex, 0, 40); break;
        }
        EXPECT_THROW(h.complete("pe32_cui"), HostAbort);
        EXPECT_EQ(h.messages.back(), c.message);
    }
}

TEST(MorvelPE, ImportAndRelocationTablesAtTheirEdges) {
    auto dir = [](const std::vector<uint8_t>& img, int i, int field) {
        size_t at = 0x80 + 24 + 96 + 8 * i + 4 * field;
        return uint32_t(img[at] | img[at + 1] << 8 | img[at + 2] << 16 | img[at + 3] << 24);
    };
    auto dword = [](const std::vector<uint8_t>& img, size_t at) {
        return uint32_t(img[at] | img[at + 1] << 8 | img[at + 2] << 16 | img[at + 3] << 24);
    };
    {
        SCOPED_TRACE("libraries without referenced functions");
        Loaded h;
        h.addLibrary("user32.dll");
        h.addLibrary("gdi32.dll");
        h.setCode(h.func(0), {0xC3});
        ASSERT_TRUE(h.complete("pe32_cui"));
        EXPECT_EQ(dir(h.out, 1, 0), 0x1000u);
        EXPECT_EQ(dir(h.out, 1, 1), 20u);
        for (size_t i = 512; i < 532; ++i) EXPECT_EQ(h.out[i], 0);
    }
    {
        SCOPED_TRACE("first library without referenced functions");
        Loaded h;
        h.addLibrary("user32.dll");
        uint32_t k32 = h.addLibrary("kernel32.dll");
        PFunction exitp = h.addImport(k32, "ExitProcess");
        h.setCode(h.func(0), {0xE8, 0, 0, 0, 0});
        h.addFixup(h.func(0), ftLabel, 1, 4, exitp->FuncIndex);
        ASSERT_TRUE(h.complete("pe32_cui"));
        EXPECT_EQ(dword(h.out, 512), 0x1000u + 40);       // lookup table right after two descriptors
        EXPECT_EQ(dword(h.out, 512 + 16), 0x1000u + 48);  // address table after its two entries
        EXPECT_EQ(dword(h.out, 532), 0u);                 // the closing descriptor
    }
    {
        SCOPED_TRACE("relocations on, nothing absolute");
        Loaded h;
        h.flags.relocations = 1;
        h.setCode(h.func(0), {0xB8, 0x03, 0, 0, 0, 0xC3});
        ASSERT_TRUE(h.complete("pe32_cui"));
        EXPECT_EQ(dir(h.out, 5, 0), 0u);
        EXPECT_EQ(dir(h.out, 5, 1), 0u);
    }
    {
        SCOPED_TRACE("three absolute fixups, one page");
        Loaded h;
        h.flags.relocations = 1;
        PConst c = h.addConst(ctAnsiString, "x");
        h.setCode(h.func(0), {0x68, 0, 0, 0, 0, 0x68, 0, 0, 0, 0, 0x68, 0, 0, 0, 0, 0xC3});
        for (uint32_t at : {1u, 6u, 11u}) h.addDataFixup(h.func(0), ftConst, at, c);
        ASSERT_TRUE(h.complete("pe32_cui"));
        EXPECT_EQ(dir(h.out, 5, 0), 0x1000u);
        EXPECT_EQ(dir(h.out, 5, 1), 16u);       // 8 + 3 entries + one padding entry
        EXPECT_EQ(dword(h.out, 512), 0x2000u);  // the code page
        EXPECT_EQ(dword(h.out, 516), 16u);
        EXPECT_EQ(dword(h.out, 520), 0x30063001u);
        EXPECT_EQ(dword(h.out, 524), 0x0000300Bu);
        EXPECT_EQ(dword(h.out, 1024 + 1), 0x400000u + 0x1000 + 16);  // the constant after the block
    }
}

TEST(MorvelEntry, FatalMessageThatReturnsStillStopsTheBuild) {
    // A host whose fatal message comes back: the builder answers false
    // instead of going on with a half-built image.
    TestHost h;
    static std::vector<std::string>* seen;
    std::vector<std::string> lines;
    seen = &lines;
    TPluginInterface table = *h.table();
    table.Log_MessageA = [](const char* msg, TAVBOOL fatal) {
        seen->push_back((fatal ? "FATAL " : "") + std::string(msg));
    };
    h.loadName = entry()(&table);
    h.setCode(h.func(0), {0xC3});
    h.flags.entry_funcid = 42;
    EXPECT_FALSE(h.complete("pe32_cui"));
    EXPECT_EQ(lines.back(), "FATAL Entry point does not exist");
    EXPECT_FALSE(h.complete("raw_image"));
    EXPECT_EQ(lines.back(), "FATAL Entry point does not exist");
    h.flags.entry_funcid = 0;
    h.setCode(h.func(0), nops(511));
    EXPECT_FALSE(h.complete("raw_image"));
    EXPECT_EQ(lines.back(), "FATAL Boot program exceeds 510 bytes: the first sector has no boot signature");
    // The next load gets the ordinary table back.
    entry()(h.table());
}
