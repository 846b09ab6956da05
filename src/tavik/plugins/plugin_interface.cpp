#include "plugins/plugin_interface.h"

#include <cstring>
#include <exception>
#include <new>

#include "reader/afile.h"
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

// The stop a service recorded, raised by the host once the plug-in's code
// has returned: no exception may unwind through a plug-in's frames.
std::exception_ptr g_Stop;

void Say(const std::string& text) {
    if (Log) Log->Message(text, colError);
    else platform::WriteStdout(text + "\n");
}

// A fatal message was printed when it was raised; any other failure is
// printed now, and the build stops as after a fatal message.
void RecordStop(std::exception_ptr e) noexcept {
    if (g_Stop) return;
    try {
        try {
            std::rethrow_exception(e);
        } catch (const EAbort&) {
        } catch (const Exception& x) {
            Say(x.ClassName() + ": " + x.Message());
        } catch (const std::bad_alloc&) {
            Say("EOutOfMemory: Out of memory");
        } catch (const std::exception& x) {
            Say(std::string("Exception: ") + x.what());
        } catch (...) {
            Say("PlugSys: a service failed");
        }
    } catch (...) {}
    try {
        g_Stop = std::make_exception_ptr(EAbort());
    } catch (...) {}
}

// The C entry of a service: catches everything the service raises, answers
// a neutral value (0, nil, false) then and for every later call until the
// host has raised the stop.
template <auto F>
struct Guard;
template <class R, class... A, R (*F)(A...)>
struct Guard<F> {
    static R TAV_CALL call(A... a) noexcept {
        if (!g_Stop) {
            try {
                return F(a...);
            } catch (...) {
                RecordStop(std::current_exception());
            }
        }
        return R();
    }
};

// The resource section for rva, where the resource manager can build one.
template <class R>
std::string BuildResources(R& resources, uint32_t rva) {
    if constexpr (requires(R & r) { std::string(r.buildRes(rva)); }) {
        return std::string(resources.buildRes(rva));
    } else {
        return std::string();  // nothing can have been collected
    }
}

// A plug-in's fatal message belongs to no place in the source.
[[noreturn]] void PluginFatal(const std::string& msg) { Log->FatalUnpositioned("PlugSys: " + msg); }

// A function record handed in: one the host made and still holds (nil
// stands for rtlmain where allowed). Anything else is never read.
PFunction Held(const char* service, PFunction fn, bool nilAllowed) {
    if (!fn) {
        if (nilAllowed) return nullptr;
        PluginFatal(std::string(service) + ": no function record given");
    }
    if (!FuncMan || !FuncMan->holds(fn))
        PluginFatal(std::string(service) + ": function record not made by the assembler");
    return fn;
}

void LogPluginMessage(const std::string& msg, TAVBOOL fatal) {
    if (fatal) PluginFatal(msg);
    Log->Message("PlugSys: " + msg, colPluginMessage);
}

std::string Text(const char* s) { return s ? std::string(s) : std::string(); }

[[noreturn]] void ListIndexError(uint32_t i) {
    throw EListError("List index out of bounds (" + std::to_string(i) + ")");
}

// --- the services, in slot order -----------------------------------------------

void Log_MessageA(const char* msg, TAVBOOL fatal) { LogPluginMessage(Text(msg), fatal); }

void Log_MessageW(const char16_t* msg, TAVBOOL fatal) { LogPluginMessage(Utf16ToUtf8(msg), fatal); }

int32_t RegisterBuilder(const char* name, TRBCallback cb) {
    return Plugins ? Plugins->registerBuilder(Text(name), cb) : -1;
}

void File_Commit() {
    if (Plugins) Plugins->commitOutput();
}

uint32_t File_AddBytes(const void* bytes, uint32_t len) { return fWriter ? fWriter->addFileData(bytes, len) : 0; }

uint32_t File_Len() { return fWriter ? fWriter->Len() : 0; }

uint32_t File_ReplaceBytes(uint32_t pos, const void* bytes, uint32_t len) {
    return fWriter ? fWriter->replaceFileData(pos, bytes, len) : 0;
}

uint8_t* Code_Get(uint32_t i, uint32_t* len) {
    static uint8_t empty = 0;
    PFunction f = FuncMan ? FuncMan->getFunc(i) : nullptr;
    if (!f) return nullptr;
    if (len) *len = tav_strlen(f->Buffer);
    return f->Buffer ? reinterpret_cast<uint8_t*>(f->Buffer) : &empty;
}

uint32_t Code_Count() { return FuncMan ? FuncMan->Count() : 0; }

PConst Const_Get(uint32_t i) { return Consts ? Consts->getConst(i) : nullptr; }

uint32_t Const_Count() { return Consts ? Consts->Count() : 0; }

// A nil function stands for rtlmain, whose list also holds the fixups
// added without an owner.
PFixup Fixup_Get(PFunction fn, uint32_t i) {
    fn = Held("Fixup_Get", fn, true);
    return FixMan ? FixMan->getFixup(fn, i) : nullptr;
}

uint32_t Fixup_Count(PFunction fn) {
    fn = Held("Fixup_Count", fn, true);
    return FixMan ? FixMan->Count(fn) : 0;
}

PFunction Func_Get(uint32_t i) { return FuncMan ? FuncMan->getFunc(i) : nullptr; }

uint32_t Func_Count() { return FuncMan ? FuncMan->Count() : 0; }

uint32_t File_WriteCode(uint32_t i) {
    PFunction f = FuncMan ? FuncMan->getFunc(i) : nullptr;
    if (!fWriter || !f) return 0;
    // BufLen is what is written; it may not claim more than the buffer holds.
    if (f->BufLen > tav_strlen(f->Buffer))
        throw ERangeError("Code of function " + std::to_string(i) + ": length " + std::to_string(f->BufLen) +
                          " exceeds its buffer of " + std::to_string(tav_strlen(f->Buffer)) + " bytes");
    return fWriter->addFileData(f->Buffer, f->BufLen);
}

PFunction import_get(uint32_t ilib, uint32_t i) {
    PImports lib = Imports ? Imports->getLib(ilib) : nullptr;
    if (!lib) ListIndexError(ilib);
    if (!lib->funcs || i >= lib->funcs->items.size()) ListIndexError(i);
    return lib->funcs->items[i];
}

uint32_t import_count(uint32_t ilib) {
    PImports lib = Imports ? Imports->getLib(ilib) : nullptr;
    return lib && lib->funcs ? static_cast<uint32_t>(lib->funcs->items.size()) : 0;
}

uint32_t ilib_count() { return Imports ? Imports->Count() : 0; }

const char* ilib_name(uint32_t ilib) {
    PImports lib = Imports ? Imports->getLib(ilib) : nullptr;
    if (!lib) ListIndexError(ilib);
    return lib->name ? lib->name : "";
}

void fixup_add(TFixupType ft, PFunction func, uint32_t index, uint32_t pos, uint8_t size, uint32_t ofs) {
    func = Held("fixup_add", func, true);
    if (ft > ftLabelAbs) PluginFatal("fixup_add: unknown fixup kind " + std::to_string(unsigned(ft)));
    if (FixMan) FixMan->addFixup(ft, func, index, pos, size, ofs, jtJMP);
}

void func_emit(PFunction fn, const void* p, uint32_t len) {
    Held("func_emit", fn, false);
    if (CompileFlags.peek_mode || len == 0) return;
    if (!p) throw ERangeError("func_emit: no bytes for " + std::to_string(len) + " bytes of code");
    // Bytes of fn's own code (from Code_Get) are copied first: the append
    // may move the buffer they are read from.
    const auto at = reinterpret_cast<uintptr_t>(p), code = reinterpret_cast<uintptr_t>(fn->Buffer);
    const uint32_t size = tav_strlen(fn->Buffer);
    if (fn->Buffer && at >= code && at <= code + tavBlockCapacity(fn->Buffer)) {
        if (at > code + size || len > code + size - at)
            throw ERangeError("func_emit: " + std::to_string(len) + " bytes from position " +
                              std::to_string(at - code + 1) + " of the function's own code run past its " +
                              std::to_string(size) + " bytes");
        const std::string copy(static_cast<const char*>(p), len);
        tavAppend(fn->Buffer, copy.data(), len);
    } else {
        tavAppend(fn->Buffer, p, len);
    }
    fn->BufLen += len;
}

void func_rem(PFunction fn, uint32_t start, uint32_t len) {
    Held("func_rem", fn, false);
    if (len == 0) return;
    const uint32_t size = tav_strlen(fn->Buffer);
    if (start == 0 || uint64_t(start) - 1 + len > size)
        throw ERangeError("func_rem: " + std::to_string(len) + " bytes at position " + std::to_string(start) +
                          " outside code of " + std::to_string(size) + " bytes");
    // closed up in place
    char* at = fn->Buffer + (start - 1);
    std::memmove(at, at + len, size - (start - 1) - len);
    if (size == len) tavFree(fn->Buffer);
    else fn->Buffer = static_cast<char*>(tavBlockResize(fn->Buffer, 1, size - len, true));
    fn->BufLen = fn->BufLen >= len ? fn->BufLen - len : 0;
}

// The text becomes a source whose parent is the current file; the statement
// loop runs on through that parent once the text ends, so at the start event
// the standard include and the project body compile inside this call.
TAVBOOL func_execute(const char* c, uint32_t len) {
    if (!Compiler || !Compiler->F_CurFile) PluginFatal("source text handed in outside a compilation");
    // Once the build has begun the compilation is over: its labels were
    // checked and its code laid out.
    if (fWriter) PluginFatal("func_execute: source text handed in after the compilation has ended");
    std::string text = c ? std::string(c, len) : std::string();
    Compiler->F_SourceChars += text.size();
    TAFile* f = TAFile::Create();
    f->loadBuffer(PluginBufferName, text, Compiler->F_CurFile);
    Compiler->F_CurFile = f;
    Compiler->HandleDeclarations(-1);
    return 1;
}

PVar Var_Get(uint32_t i) { return VarMan ? VarMan->getVar(i) : nullptr; }

uint32_t Var_Count() { return VarMan ? VarMan->VarCount() : 0; }

void set_fileext(const char16_t* s) {
    if (Plugins) Plugins->setFileExt(Utf16ToUtf8(s));
}

uint8_t* file_getbuf() { return fWriter ? fWriter->Data() : nullptr; }

bool resourcesAskedFor = false;

uint32_t file_writeresources(uint32_t rva) {
    if (!fWriter || !ResMan) return 0;
    resourcesAskedFor = true;
    const std::string section = BuildResources(*ResMan, rva);
    if (section.empty()) return 0;
    fWriter->addFileText(section);
    return static_cast<uint32_t>(section.size());
}

TCompilerFlags* get_flags() { return &CompileFlags; }

// The name with the extension set so far; valid until the next call.
const char* get_filename() {
    static std::string name;
    name = fWriter && Plugins ? Plugins->outputFile() : std::string();
    return name.c_str();
}

}  // namespace

bool PluginStopPending() { return static_cast<bool>(g_Stop); }

bool ResourcesAskedFor() { return resourcesAskedFor; }

void ClearResourcesAskedFor() { resourcesAskedFor = false; }

void RaisePluginStop() {
    if (!g_Stop) return;
    std::exception_ptr e = g_Stop;
    g_Stop = nullptr;
    std::rethrow_exception(e);
}

// Designated in slot order: the compiler rejects any other order.
const TPluginInterface funcTable = {
    .Log_MessageA = Guard<Log_MessageA>::call,
    .Log_MessageW = Guard<Log_MessageW>::call,
    .RegisterBuilder = Guard<RegisterBuilder>::call,
    .File_Commit = Guard<File_Commit>::call,
    .File_AddBytes = Guard<File_AddBytes>::call,
    .File_Len = Guard<File_Len>::call,
    .File_ReplaceBytes = Guard<File_ReplaceBytes>::call,
    .Code_Get = Guard<Code_Get>::call,
    .Code_Count = Guard<Code_Count>::call,
    .Const_Get = Guard<Const_Get>::call,
    .Const_Count = Guard<Const_Count>::call,
    .Fixup_Get = Guard<Fixup_Get>::call,
    .Fixup_Count = Guard<Fixup_Count>::call,
    .Func_Get = Guard<Func_Get>::call,
    .Func_Count = Guard<Func_Count>::call,
    .File_WriteCode = Guard<File_WriteCode>::call,
    .import_get = Guard<import_get>::call,
    .import_count = Guard<import_count>::call,
    .ilib_count = Guard<ilib_count>::call,
    .ilib_name = Guard<ilib_name>::call,
    .fixup_add = Guard<fixup_add>::call,
    .func_emit = Guard<func_emit>::call,
    .func_rem = Guard<func_rem>::call,
    .func_execute = Guard<func_execute>::call,
    .Var_Get = Guard<Var_Get>::call,
    .Var_Count = Guard<Var_Count>::call,
    .set_fileext = Guard<set_fileext>::call,
    .file_getbuf = Guard<file_getbuf>::call,
    .file_writeresources = Guard<file_writeresources>::call,
    .get_flags = Guard<get_flags>::call,
    .get_filename = Guard<get_filename>::call,
};
