#include "plugins/plugin_interface.h"

#include <cstring>

#include "afile.h"
#include "classes/const_manager.h"
#include "classes/fixup_manager.h"
#include "classes/function_manager.h"
#include "classes/import_manager.h"
#include "classes/resource_manager.h"
#include "classes/shared_records.h"
#include "classes/super_string_list.h"
#include "classes/var_manager.h"
#include "common.h"
#include "compiler.h"
#include "exceptions.h"
#include "filetypes/file_writer.h"
#include "global.h"
#include "log.h"
#include "plugins/plugin_manager.h"

std::string Utf16ToUtf8(const char16_t* s) {
    std::string r;
    if (!s) return r;
    for (; *s; ++s) {
        uint32_t cp = *s;
        if (cp >= 0xD800 && cp <= 0xDBFF && s[1] >= 0xDC00 && s[1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (uint32_t(s[1]) - 0xDC00);
            ++s;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            r += static_cast<char>(cp);
        } else if (cp < 0x800) {
            r += static_cast<char>(0xC0 | (cp >> 6));
            r += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            r += static_cast<char>(0xE0 | (cp >> 12));
            r += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            r += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            r += static_cast<char>(0xF0 | (cp >> 18));
            r += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            r += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            r += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return r;
}

namespace {

// The resource section for rva, where the resource manager can build one.
template <class R>
std::string BuildResources(R& resources, uint32_t rva) {
    if constexpr (requires(R& r) { std::string(r.buildRes(rva)); }) {
        return std::string(resources.buildRes(rva));
    } else {
        return std::string();  // nothing can have been collected
    }
}

void LogPluginMessage(const std::string& msg, TAVBOOL fatal) {
    if (fatal) Log->FatalError("PlugSys: " + msg, true);
    Log->Message("PlugSys: " + msg, colPluginMessage);
}

std::string Text(const char* s) { return s ? std::string(s) : std::string(); }

[[noreturn]] void ListIndexError(uint32_t i) {
    throw EListError("List index out of bounds (" + std::to_string(i) + ")");
}

// --- the services, in slot order -----------------------------------------------

void TAV_CALL Log_MessageA(const char* msg, TAVBOOL fatal) { LogPluginMessage(Text(msg), fatal); }

void TAV_CALL Log_MessageW(const char16_t* msg, TAVBOOL fatal) { LogPluginMessage(Utf16ToUtf8(msg), fatal); }

int32_t TAV_CALL RegisterBuilder(const char* name, TRBCallback cb) {
    return Plugins ? Plugins->registerBuilder(Text(name), cb) : -1;
}

void TAV_CALL File_Commit() {
    if (Plugins) Plugins->commitOutput();
}

uint32_t TAV_CALL File_AddBytes(const void* bytes, uint32_t len) {
    return fWriter ? fWriter->addFileData(bytes, len) : 0;
}

uint32_t TAV_CALL File_Len() { return fWriter ? fWriter->Len() : 0; }

uint32_t TAV_CALL File_ReplaceBytes(uint32_t pos, const void* bytes, uint32_t len) {
    return fWriter ? fWriter->replaceFileData(pos, bytes, len) : 0;
}

uint8_t* TAV_CALL Code_Get(uint32_t i, uint32_t* len) {
    static uint8_t empty = 0;
    PFunction f = FuncMan ? FuncMan->getFunc(i) : nullptr;
    if (!f) return nullptr;
    if (len) *len = tav_strlen(f->Buffer);
    return f->Buffer ? reinterpret_cast<uint8_t*>(f->Buffer) : &empty;
}

uint32_t TAV_CALL Code_Count() { return FuncMan ? FuncMan->Count() : 0; }

PConst TAV_CALL Const_Get(uint32_t i) { return Consts ? Consts->getConst(i) : nullptr; }

uint32_t TAV_CALL Const_Count() { return Consts ? Consts->Count() : 0; }

// A nil function stands for rtlmain, whose list also holds the fixups
// added without an owner.
PFixup TAV_CALL Fixup_Get(PFunction fn, uint32_t i) { return FixMan ? FixMan->getFixup(fn, i) : nullptr; }

uint32_t TAV_CALL Fixup_Count(PFunction fn) { return FixMan ? FixMan->Count(fn) : 0; }

PFunction TAV_CALL Func_Get(uint32_t i) { return FuncMan ? FuncMan->getFunc(i) : nullptr; }

uint32_t TAV_CALL Func_Count() { return FuncMan ? FuncMan->Count() : 0; }

uint32_t TAV_CALL File_WriteCode(uint32_t i) {
    PFunction f = FuncMan ? FuncMan->getFunc(i) : nullptr;
    if (!fWriter || !f) return 0;
    // BufLen is what is written; it may not claim more than the buffer holds.
    if (f->BufLen > tav_strlen(f->Buffer))
        throw ERangeError("Code of function " + std::to_string(i) + ": length " + std::to_string(f->BufLen) +
                          " exceeds its buffer of " + std::to_string(tav_strlen(f->Buffer)) + " bytes");
    return fWriter->addFileData(f->Buffer, f->BufLen);
}

PFunction TAV_CALL import_get(uint32_t ilib, uint32_t i) {
    PImports lib = Imports ? Imports->getLib(ilib) : nullptr;
    if (!lib) ListIndexError(ilib);
    if (!lib->funcs || i >= lib->funcs->items.size()) ListIndexError(i);
    return lib->funcs->items[i];
}

uint32_t TAV_CALL import_count(uint32_t ilib) {
    PImports lib = Imports ? Imports->getLib(ilib) : nullptr;
    return lib && lib->funcs ? static_cast<uint32_t>(lib->funcs->items.size()) : 0;
}

uint32_t TAV_CALL ilib_count() { return Imports ? Imports->Count() : 0; }

const char* TAV_CALL ilib_name(uint32_t ilib) {
    PImports lib = Imports ? Imports->getLib(ilib) : nullptr;
    if (!lib) ListIndexError(ilib);
    return lib->name ? lib->name : "";
}

void TAV_CALL fixup_add(TFixupType ft, PFunction func, uint32_t index, uint32_t pos, uint8_t size, uint32_t ofs) {
    if (FixMan) FixMan->addFixup(ft, func, index, pos, size, ofs, jtJMP);
}

void TAV_CALL func_emit(PFunction fn, const void* p, uint32_t len) {
    if (CompileFlags.peek_mode || !fn || len == 0) return;
    if (!p) throw ERangeError("func_emit: no bytes for " + std::to_string(len) + " bytes of code");
    tavAppend(fn->Buffer, p, len);
    fn->BufLen += len;
}

void TAV_CALL func_rem(PFunction fn, uint32_t start, uint32_t len) {
    if (!fn || len == 0) return;
    const uint32_t size = tav_strlen(fn->Buffer);
    if (start == 0 || uint64_t(start) - 1 + len > size)
        throw ERangeError("func_rem: " + std::to_string(len) + " bytes at position " + std::to_string(start) +
                          " outside code of " + std::to_string(size) + " bytes");
    std::string code(tavView(fn->Buffer));
    code.erase(start - 1, len);
    tavAssign(fn->Buffer, code);
    fn->BufLen = fn->BufLen >= len ? fn->BufLen - len : 0;
}

// The text becomes a source whose parent is the current file; the statement
// loop runs on through that parent once the text ends, so at the start event
// the standard include and the project body compile inside this call.
TAVBOOL TAV_CALL func_execute(const char* c, uint32_t len) {
    if (!Compiler || !Compiler->F_CurFile)
        Log->FatalError("PlugSys: source text handed in outside a compilation", true);
    std::string text = c ? std::string(c, len) : std::string();
    TAFile* f = TAFile::Create();
    f->loadBuffer(PluginBufferName, text, Compiler->F_CurFile);
    Compiler->F_CurFile = f;
    Compiler->HandleDeclarations(-1);
    return 1;
}

PVar TAV_CALL Var_Get(uint32_t i) { return VarMan ? VarMan->getVar(i) : nullptr; }

uint32_t TAV_CALL Var_Count() { return VarMan ? VarMan->VarCount() : 0; }

void TAV_CALL set_fileext(const char16_t* s) {
    if (Plugins) Plugins->setFileExt(Utf16ToUtf8(s));
}

uint8_t* TAV_CALL file_getbuf() { return fWriter ? fWriter->Data() : nullptr; }

uint32_t TAV_CALL file_writeresources(uint32_t rva) {
    if (!fWriter || !ResMan) return 0;
    const std::string section = BuildResources(*ResMan, rva);
    if (section.empty()) return 0;
    fWriter->addFileText(section);
    return static_cast<uint32_t>(section.size());
}

TCompilerFlags* TAV_CALL get_flags() { return &CompileFlags; }

// The name with the extension set so far; valid until the next call.
const char* TAV_CALL get_filename() {
    static std::string name;
    name = fWriter && Plugins ? Plugins->outputFile() : std::string();
    return name.c_str();
}

}  // namespace

// Designated in slot order: the compiler rejects any other order.
const TPluginInterface funcTable = {
    .Log_MessageA = Log_MessageA,
    .Log_MessageW = Log_MessageW,
    .RegisterBuilder = RegisterBuilder,
    .File_Commit = File_Commit,
    .File_AddBytes = File_AddBytes,
    .File_Len = File_Len,
    .File_ReplaceBytes = File_ReplaceBytes,
    .Code_Get = Code_Get,
    .Code_Count = Code_Count,
    .Const_Get = Const_Get,
    .Const_Count = Const_Count,
    .Fixup_Get = Fixup_Get,
    .Fixup_Count = Fixup_Count,
    .Func_Get = Func_Get,
    .Func_Count = Func_Count,
    .File_WriteCode = File_WriteCode,
    .import_get = import_get,
    .import_count = import_count,
    .ilib_count = ilib_count,
    .ilib_name = ilib_name,
    .fixup_add = fixup_add,
    .func_emit = func_emit,
    .func_rem = func_rem,
    .func_execute = func_execute,
    .Var_Get = Var_Get,
    .Var_Count = Var_Count,
    .set_fileext = set_fileext,
    .file_getbuf = file_getbuf,
    .file_writeresources = file_writeresources,
    .get_flags = get_flags,
    .get_filename = get_filename,
};
