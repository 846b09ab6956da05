#pragma once
// A stand-in for the assembler behind the service table: in-memory records
// (functions with code, fixups, constants, variables, import libraries), the
// output buffer and the builder registry, reached by a plug-in through a
// filled TPluginInterface exactly as it would reach the real host.
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "tavik/plugin_api.h"

struct TFixupList {
    std::vector<PFixup> items;
};
struct TFuncList {
    std::vector<PFunction> items;
};
struct TTextList {
    std::vector<std::string> items;
};

namespace morvel_test {

// A fatal message from the plug-in: the host abandons the build.
struct HostAbort : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class TestHost {
public:
    TestHost();
    ~TestHost();
    TestHost(const TestHost&) = delete;
    TestHost& operator=(const TestHost&) = delete;

    // The table handed to onEntry; its services reach this host.
    const TPluginInterface* table() const { return &table_; }

    // --- the compilation ---
    PFunction addFunction(TLabelType type, const std::string& name, PFunction parent = nullptr);
    PFunction addLabel(PFunction parent, const std::string& name, uint32_t offset);
    void setCode(PFunction f, const std::vector<uint8_t>& code);
    std::vector<uint8_t> code(PFunction f) const;
    // A fixup at an absolute position of f's code (nil f: in the first
    // function's list, position in the output).
    PFixup addFixup(PFunction f, TFixupType ft, uint32_t pos, uint8_t size, uint32_t target, uint32_t ofs = 0,
                    uint16_t jmp = jtJMP);
    PFixup addDataFixup(PFunction f, TFixupType ft, uint32_t pos, void* data, uint32_t ofs = 0);
    std::vector<PFixup> fixups(PFunction f) const;
    PConst addConst(TConstType type, const std::string& value);
    PVar addVar(const std::string& name, uint32_t typeSize, uint32_t multiplier, bool initialised,
                const std::vector<uint8_t>& content = {}, bool active = true, TVarMode mode = vmGlobal);
    uint32_t addLibrary(const std::string& name);
    PFunction addImport(uint32_t lib, const std::string& name, const std::string& importName = "");
    TCompilerFlags flags{};

    PFunction func(uint32_t i) const { return i < funcs_.size() ? funcs_[i].get() : nullptr; }
    uint32_t funcCount() const { return uint32_t(funcs_.size()); }

    // --- the plug-in side ---
    std::string loadName;                   // what onEntry returned
    std::vector<std::string> builderNames;  // registry, index = id
    std::vector<TRBCallback> builderCallbacks;
    std::string fileName;               // what get_filename answers
    std::vector<std::string> messages;  // "PlugSys: " lines, fatal ones marked "FATAL "
    std::vector<std::string> executed;  // text handed to func_execute
    std::u16string ext = u"bin";
    std::vector<uint8_t> out;  // the output buffer of the last build
    bool building = false;

    bool start(const std::string& builder);     // teStart
    bool complete(const std::string& builder);  // teComplete: output in out, extension in ext
    void writeOutput(const std::string& path) const;

    static TestHost* current;

private:
    struct CodeStore {
        std::vector<char> bytes;
    };
    TPluginInterface table_{};
    std::vector<std::unique_ptr<TFunction>> funcs_;
    std::unordered_map<PFunction, std::unique_ptr<CodeStore>> code_;
    std::vector<std::unique_ptr<TFixup>> fixupStore_;
    std::vector<std::unique_ptr<TFixupList>> fixupLists_;
    std::vector<std::unique_ptr<TConst>> consts_;
    std::vector<std::unique_ptr<TVar>> vars_;
    std::vector<std::unique_ptr<TVarType>> types_;
    std::vector<std::unique_ptr<TImports>> libs_;
    std::vector<std::unique_ptr<TFuncList>> libFuncs_;
    std::vector<std::unique_ptr<std::vector<char>>> texts_;

    TAVSTR str(const std::string& s);
    void setBuffer(PFunction f, const std::vector<char>& bytes);
    int builderId(const std::string& name) const;
    friend struct Services;
};

}  // namespace morvel_test
