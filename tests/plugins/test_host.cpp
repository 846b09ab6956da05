#include "test_host.h"

#include <cstring>
#include <fstream>

namespace morvel_test {

TestHost* TestHost::current = nullptr;

namespace {
TestHost& H() { return *TestHost::current; }
std::string narrow(const char16_t* s) {
    std::string r;
    for (; s && *s; ++s) r.push_back(char(*s));
    return r;
}
}  // namespace

struct Services {
    static void TAV_CALL Log_MessageA(const char* msg, TAVBOOL fatal) {
        std::string line = std::string("PlugSys: ") + msg;
        H().messages.push_back(fatal ? "FATAL " + line : line);
        if (fatal) throw HostAbort(line);
    }
    static void TAV_CALL Log_MessageW(const char16_t* msg, TAVBOOL fatal) { Log_MessageA(narrow(msg).c_str(), fatal); }
    static int32_t TAV_CALL RegisterBuilder(const char* name, TRBCallback cb) {
        std::string up(name);
        for (char& c : up)
            if (c >= 'a' && c <= 'z') c = char(c - 32);
        for (auto& n : H().builderNames)
            if (n == up) return -1;
        H().builderNames.push_back(up);
        H().builderCallbacks.push_back(cb);
        return int32_t(H().builderNames.size() - 1);
    }
    static void TAV_CALL File_Commit() {}
    static uint32_t TAV_CALL File_AddBytes(const void* bytes, uint32_t len) {
        if (!H().building) return 0;
        uint32_t pos = uint32_t(H().out.size()) + 1;
        auto* b = static_cast<const uint8_t*>(bytes);
        H().out.insert(H().out.end(), b, b + len);
        return pos;
    }
    static uint32_t TAV_CALL File_Len() { return H().building ? uint32_t(H().out.size()) : 0; }
    static uint32_t TAV_CALL File_ReplaceBytes(uint32_t pos, const void* bytes, uint32_t len) {
        if (!H().building) return 0;
        if (pos < 1 || uint64_t(pos) - 1 + len > H().out.size()) throw std::out_of_range("File_ReplaceBytes");
        std::memcpy(H().out.data() + pos - 1, bytes, len);
        return pos;
    }
    static uint8_t* TAV_CALL Code_Get(uint32_t i, uint32_t* len) {
        PFunction f = H().func(i);
        if (!f) return nullptr;
        *len = tav_strlen(f->Buffer);
        static char zero = 0;
        return reinterpret_cast<uint8_t*>(f->Buffer ? f->Buffer : &zero);
    }
    static uint32_t TAV_CALL Code_Count() { return H().funcCount(); }
    static PConst TAV_CALL Const_Get(uint32_t i) { return i < H().consts_.size() ? H().consts_[i].get() : nullptr; }
    static uint32_t TAV_CALL Const_Count() { return uint32_t(H().consts_.size()); }
    static PFixup TAV_CALL Fixup_Get(PFunction fn, uint32_t i) {
        return i < fn->FixupList->items.size() ? fn->FixupList->items[i] : nullptr;
    }
    static uint32_t TAV_CALL Fixup_Count(PFunction fn) { return uint32_t(fn->FixupList->items.size()); }
    static PFunction TAV_CALL Func_Get(uint32_t i) { return H().func(i); }
    static uint32_t TAV_CALL Func_Count() { return H().funcCount(); }
    static uint32_t TAV_CALL File_WriteCode(uint32_t i) {
        PFunction f = H().func(i);
        if (!f || !H().building) return 0;
        return File_AddBytes(f->Buffer, f->BufLen);
    }
    static PFunction TAV_CALL import_get(uint32_t ilib, uint32_t i) { return H().libFuncs_.at(ilib)->items.at(i); }
    static uint32_t TAV_CALL import_count(uint32_t ilib) {
        return ilib < H().libFuncs_.size() ? uint32_t(H().libFuncs_[ilib]->items.size()) : 0;
    }
    static uint32_t TAV_CALL ilib_count() { return uint32_t(H().libs_.size()); }
    static const char* TAV_CALL ilib_name(uint32_t ilib) { return H().libs_.at(ilib)->name; }
    static void TAV_CALL fixup_add(TFixupType ft, PFunction func, uint32_t index, uint32_t pos, uint8_t size,
                                   uint32_t ofs) {
        PFixup fx = H().addFixup(func, ft, func ? pos + func->BufLen : pos, size, index, ofs);
        (void)fx;
    }
    static void TAV_CALL func_emit(PFunction fn, const void* p, uint32_t len) {
        if (H().flags.peek_mode) return;
        std::vector<uint8_t> c = H().code(fn);
        auto* b = static_cast<const uint8_t*>(p);
        c.insert(c.end(), b, b + len);
        H().setCode(fn, c);
    }
    static void TAV_CALL func_rem(PFunction fn, uint32_t start, uint32_t len) {
        std::vector<uint8_t> c = H().code(fn);
        if (start < 1 || uint64_t(start) - 1 + len > c.size()) throw std::out_of_range("func_rem");
        c.erase(c.begin() + (start - 1), c.begin() + (start - 1 + len));
        H().setCode(fn, c);
    }
    static TAVBOOL TAV_CALL func_execute(const char* c, uint32_t len) {
        H().executed.emplace_back(c, len);
        return 1;
    }
    static PVar TAV_CALL Var_Get(uint32_t i) { return i < H().vars_.size() ? H().vars_[i].get() : nullptr; }
    static uint32_t TAV_CALL Var_Count() { return uint32_t(H().vars_.size()); }
    static void TAV_CALL set_fileext(const char16_t* s) {
        if (H().building) H().ext = s;
    }
    static uint8_t* TAV_CALL file_getbuf() { return H().building ? H().out.data() : nullptr; }
    static uint32_t TAV_CALL file_writeresources(uint32_t) { return 0; }
    static TCompilerFlags* TAV_CALL get_flags() { return &H().flags; }
    static const char* TAV_CALL get_filename() { return H().fileName.c_str(); }
};

TestHost::TestHost() {
    current = this;
    table_ = TPluginInterface{Services::Log_MessageA,
                              Services::Log_MessageW,
                              Services::RegisterBuilder,
                              Services::File_Commit,
                              Services::File_AddBytes,
                              Services::File_Len,
                              Services::File_ReplaceBytes,
                              Services::Code_Get,
                              Services::Code_Count,
                              Services::Const_Get,
                              Services::Const_Count,
                              Services::Fixup_Get,
                              Services::Fixup_Count,
                              Services::Func_Get,
                              Services::Func_Count,
                              Services::File_WriteCode,
                              Services::import_get,
                              Services::import_count,
                              Services::ilib_count,
                              Services::ilib_name,
                              Services::fixup_add,
                              Services::func_emit,
                              Services::func_rem,
                              Services::func_execute,
                              Services::Var_Get,
                              Services::Var_Count,
                              Services::set_fileext,
                              Services::file_getbuf,
                              Services::file_writeresources,
                              Services::get_flags,
                              Services::get_filename};
    flags.cpu_mode = 686;
    flags.cpu_bits = 32;
    flags.fpu_enabled = 1;
    // rtlmain, as the compiler creates it first.
    PFunction main = addFunction(ltProc, "rtlmain");
    main->IsCalled = 1;
}

TestHost::~TestHost() {
    if (current == this) current = nullptr;
}

TAVSTR TestHost::str(const std::string& s) {
    if (s.empty()) return nullptr;
    auto block = std::make_unique<std::vector<char>>(s.size() + 5, '\0');
    uint32_t n = uint32_t(s.size());
    std::memcpy(block->data(), &n, 4);
    std::memcpy(block->data() + 4, s.data(), s.size());
    TAVSTR p = block->data() + 4;
    texts_.push_back(std::move(block));
    return p;
}

PFunction TestHost::addFunction(TLabelType type, const std::string& name, PFunction parent) {
    auto f = std::make_unique<TFunction>();
    std::memset(f.get(), 0, sizeof(TFunction));
    f->Parent = parent;
    f->Name = str(name);
    f->ImportName = str(name);
    f->Address = 0xFFFFFFFF;
    f->DLLIndex = -1;
    f->FuncIndex = uint32_t(funcs_.size());
    f->Type_ = type;
    fixupLists_.push_back(std::make_unique<TFixupList>());
    f->FixupList = fixupLists_.back().get();
    PFunction p = f.get();
    funcs_.push_back(std::move(f));
    code_[p] = std::make_unique<CodeStore>();
    return p;
}

PFunction TestHost::addLabel(PFunction parent, const std::string& name, uint32_t offset) {
    PFunction l = addFunction(ltLabel, name, parent);
    l->Address = offset;
    l->IsCalled = 1;
    return l;
}

void TestHost::setBuffer(PFunction f, const std::vector<char>& bytes) {
    CodeStore& cs = *code_.at(f);
    uint32_t n = uint32_t(bytes.size());
    cs.bytes.assign(n + 5, '\0');
    std::memcpy(cs.bytes.data(), &n, 4);
    if (n) std::memcpy(cs.bytes.data() + 4, bytes.data(), n);
    f->Buffer = n ? cs.bytes.data() + 4 : nullptr;
    f->BufLen = n;
}

void TestHost::setCode(PFunction f, const std::vector<uint8_t>& code) {
    setBuffer(f, std::vector<char>(code.begin(), code.end()));
}

std::vector<uint8_t> TestHost::code(PFunction f) const {
    if (!f->Buffer) return {};
    return std::vector<uint8_t>(f->Buffer, f->Buffer + f->BufLen);
}

PFixup TestHost::addFixup(PFunction f, TFixupType ft, uint32_t pos, uint8_t size, uint32_t target, uint32_t ofs,
                          uint16_t jmp) {
    auto fx = std::make_unique<TFixup>();
    std::memset(fx.get(), 0, sizeof(TFixup));
    fx->hint = ft;
    fx->position = pos;
    fx->size = size;
    fx->offset = ofs;
    fx->jmp = TJmpType(jmp);
    fx->parentfunc = f;
    fx->index = target;
    PFixup p = fx.get();
    fixupStore_.push_back(std::move(fx));
    (f ? f : funcs_[0].get())->FixupList->items.push_back(p);
    return p;
}

PFixup TestHost::addDataFixup(PFunction f, TFixupType ft, uint32_t pos, void* data, uint32_t ofs) {
    PFixup p = addFixup(f, ft, pos, 4, 0, ofs);
    p->data = data;
    return p;
}

std::vector<PFixup> TestHost::fixups(PFunction f) const { return f->FixupList->items; }

PConst TestHost::addConst(TConstType type, const std::string& value) {
    auto c = std::make_unique<TConst>();
    std::memset(c.get(), 0, sizeof(TConst));
    c->type_ = type;
    c->active = 1;
    c->str = str(value);
    c->address = 0xFFFFFFFF;
    consts_.push_back(std::move(c));
    return consts_.back().get();
}

PVar TestHost::addVar(const std::string& name, uint32_t typeSize, uint32_t multiplier, bool initialised,
                      const std::vector<uint8_t>& content, bool active, TVarMode mode) {
    auto t = std::make_unique<TVarType>();
    std::memset(t.get(), 0, sizeof(TVarType));
    t->size = typeSize;
    t->vt = dtInteger;
    auto v = std::make_unique<TVar>();
    std::memset(v.get(), 0, sizeof(TVar));
    v->name = str(name);
    v->mode = mode;
    v->active = active;
    v->initialised = initialised;
    v->multiplier = multiplier;
    v->type_ = t.get();
    std::string bytes(size_t(typeSize) * multiplier, '\0');
    for (size_t i = 0; i < content.size() && i < bytes.size(); ++i) bytes[i] = char(content[i]);
    v->content = bytes.empty() ? nullptr : reinterpret_cast<uint8_t*>(str(bytes));
    types_.push_back(std::move(t));
    vars_.push_back(std::move(v));
    return vars_.back().get();
}

uint32_t TestHost::addLibrary(const std::string& name) {
    auto lib = std::make_unique<TImports>();
    lib->name = str(name);
    libFuncs_.push_back(std::make_unique<TFuncList>());
    lib->funcs = libFuncs_.back().get();
    lib->refs = 0;
    libs_.push_back(std::move(lib));
    return uint32_t(libs_.size() - 1);
}

PFunction TestHost::addImport(uint32_t lib, const std::string& name, const std::string& importName) {
    PFunction f = addFunction(ltProc, name);
    if (!importName.empty()) f->ImportName = str(importName);
    f->DLLIndex = int32_t(lib);
    f->IsCalled = 1;
    libFuncs_.at(lib)->items.push_back(f);
    return f;
}

int TestHost::builderId(const std::string& name) const {
    std::string up(name);
    for (char& c : up)
        if (c >= 'a' && c <= 'z') c = char(c - 32);
    for (size_t i = 0; i < builderNames.size(); ++i)
        if (builderNames[i] == up) return int(i);
    throw std::invalid_argument("no builder " + name);
}

bool TestHost::start(const std::string& builder) {
    current = this;
    int id = builderId(builder);
    return builderCallbacks[id](teStart, uint32_t(id)) != 0;
}

bool TestHost::complete(const std::string& builder) {
    current = this;
    int id = builderId(builder);
    out.clear();
    ext = u"bin";
    building = true;
    struct Done {
        bool& b;
        ~Done() { b = false; }
    } done{building};
    return builderCallbacks[id](teComplete, uint32_t(id)) != 0;
}

void TestHost::writeOutput(const std::string& path) const {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(out.data()), std::streamsize(out.size()));
}

}  // namespace morvel_test
