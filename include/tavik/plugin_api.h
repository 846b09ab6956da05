/* Records and entry types shared by the assembler and its plug-ins.
 * Plain C: every record is standard layout with fixed-width fields, in the
 * order the plug-ins read them. */
#ifndef TAVIK_PLUGIN_API_H
#define TAVIK_PLUGIN_API_H

#include <stddef.h>
#include <stdint.h>

#if defined(__i386__) || defined(_M_IX86)
#  if defined(_MSC_VER)
#    define TAV_CALL __stdcall
#  else
#    define TAV_CALL __attribute__((stdcall))
#  endif
#  define TAV_TARGET_32 1
#else
#  define TAV_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef uint8_t TAVBOOL;

/* Default call method of the compile flags. */
typedef enum TCallMethod { cmUnknown = 0, cmStdcall, cmCdecl, cmFastcall, cmTavCall } TCallMethod;

/* The compile settings shared by the tokenizer, the compiler, the encoder and
 * the plug-ins (28 bytes). */
typedef struct TCompilerFlags {
    uint32_t cpu_mode; /* processor level, 686 */
    uint32_t cpu_bits; /* 16, 32 or 64; 0 until "#set bits" */
    TAVBOOL fpu_enabled;
    uint8_t pad0[3];
    uint32_t sse_version;
    uint32_t def_callmeth; /* TCallMethod */
    uint32_t entry_funcid; /* 0 = rtlmain */
    TAVBOOL relocations;
    TAVBOOL peek_mode;
    TAVBOOL stackframe_on;
    uint8_t pad1;
} TCompilerFlags;

/* Fixed-width enumerations: a plain enum in C++, a typedef with named
 * values in C. */
#ifdef __cplusplus
#  define TAV_ENUM(name, base) enum name : base
#else
#  define TAV_ENUM(name, base) \
    typedef base name;         \
    enum name##_values
#endif

/* 64-bit and 80-bit fields sit at 8-aligned places on every target. */
#ifdef __cplusplus
#  define TAV_ALIGN8 alignas(8)
#else
#  define TAV_ALIGN8 _Alignas(8)
#endif

/* An 80-bit x87 extended value, the 10 bytes as the FPU stores them. */
typedef struct TAVEXT {
    uint8_t bytes[10];
} TAVEXT;

/* Texts: a pointer to zero-terminated bytes with the 32-bit length in the
 * word before the first byte; nil for the empty text. The same holds for
 * dynamic arrays: a pointer to the first element with the 32-bit element
 * count before it; nil when empty. Plug-ins read these, never free them. */
typedef char* TAVSTR;

static inline uint32_t tav_strlen(const char* s) {
    uint32_t n = 0;
    if (s) {
        const unsigned char* p = (const unsigned char*)s - 4;
        n = (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
    }
    return n;
}
#define tav_arrcount(arr) tav_strlen((const char*)(arr))

/* Host lists, opaque to plug-ins (reached through the services). */
typedef struct TFixupList TFixupList; /* of PFixup */
typedef struct TTextList TTextList;   /* of texts */
typedef struct TFuncList TFuncList;   /* of PFunction */

typedef struct TFunction TFunction, *PFunction;
typedef struct TFixup TFixup, *PFixup;
typedef struct TConst TConst, *PConst;
typedef struct TVar TVar, *PVar;
typedef struct TVarType TVarType, *PVarType;
typedef struct TVarField TVarField, *PVarField;
typedef struct TFuncParam TFuncParam, *PFuncParam;
typedef struct TImports TImports, *PImports;

/* ---- constants ---- */

TAV_ENUM(TConstType, uint8_t){ctAnsiString = 0, ctWideString = 1, ctValue = 2, ctFloat = 3};

struct TConst {
    TConstType type_;
    TAVSTR varname;          /* name the value was first added under */
    TAVBOOL active;          /* referenced by an instruction */
    uint32_t address;        /* offset in the constant area (builder) */
    TAVSTR str;              /* value text, UTF-8 */
    TAV_ALIGN8 int64_t int_; /* integer value; float truncated */
    TAV_ALIGN8 TAVEXT ext;   /* float value */
};

/* ---- types and variables ---- */

TAV_ENUM(TDataType, uint8_t){dtFloat = 0, dtInteger = 1, dtText = 2};
TAV_ENUM(TVarMode, uint8_t){vmGlobal = 0, vmLocal = 1};
TAV_ENUM(TFieldType, uint8_t){vftType = 0, vftFunc = 1};

struct TVar {
    uint32_t ident; /* identifier index */
    TAVSTR name;
    TVarMode mode;
    uint32_t address;    /* frame offset of a local; data offset of a global (builder) */
    TAVBOOL active;      /* referred to by code */
    TAVBOOL initialised; /* has an initial value */
    uint8_t* content;    /* dynamic array: multiplier * type size bytes; nil unless initialised */
    uint32_t multiplier;
    PVarType type_;
};

struct TVarField {
    TFieldType ft;
    TVar variable;  /* data member: name, type, offset in address */
    PFunction func; /* method (vftFunc) */
};

struct TVarType {
    uint32_t ident;
    TAVSTR name;
    uint32_t size;
    TAVBOOL signed_;
    TDataType vt;
    uint32_t fieldcount;
    TVarField* fields; /* dynamic array */
    uint32_t largestfield;
    TAVBOOL isPointer;
    TAVBOOL dynSize; /* size follows the target word size */
    /* the float range shares its place with the integer range; an upper
     * bound with all bits set reads as unsigned */
    union {
        struct {
            TAV_ALIGN8 int64_t int_lower;
            TAV_ALIGN8 int64_t int_upper;
        };
        struct {
            TAV_ALIGN8 TAVEXT real_lower;
            TAV_ALIGN8 TAVEXT real_upper;
        };
    };
};

/* ---- functions, fixups, imports ---- */

TAV_ENUM(TLabelType, uint8_t){ltRef = 0, ltFunc = 1, ltProc = 2, ltLabel = 3};
TAV_ENUM(TCallingConvention, uint8_t){ccStdcall = 0};

TAV_ENUM(TFixupType, uint8_t){
    ftLabel = 0,                               /* rel32 to a function or label (index) */
    ftRelative = 1,                            /* image base added to the value in place */
    ftJmp = 2,                                 /* 7 reserved bytes, short or near jump chosen at layout */
    ftJmpShort = 3, ftJmpFar = 4, ftConst = 5, /* abs32 of a constant (data) */
    ftVar = 6,                                 /* abs32 of a variable (data) + offset */
    ftLocals = 7,                              /* place of the locals allocation */
    ftCodeRVA = 8,                             /* code section start added in place */
    ftLabelAbs = 9                             /* abs32 of a function or label (index) */
};

TAV_ENUM(TJmpType, uint16_t){
    jtJO = 0,   jtJNO = 1,  jtJB = 2,    jtJNAE = 2, jtJC = 2,      jtJAE = 3,      jtJNB = 3,  jtJNC = 3,  jtJE = 4,
    jtJZ = 4,   jtJNE = 5,  jtJNZ = 5,   jtJBE = 6,  jtJNA = 6,     jtJA = 7,       jtJNBE = 7, jtJS = 8,   jtJNS = 9,
    jtJP = 10,  jtJPE = 10, jtJNP = 11,  jtJPO = 11, jtJL = 12,     jtJNGE = 12,    jtJGE = 13, jtJNL = 13, jtJLE = 14,
    jtJNG = 14, jtJG = 15,  jtJNLE = 15, jtJMP = 16, jtJECXZ = 115, jtIGNORE = 1000};

struct TFuncParam {
    PVarType type_;
    TAVSTR name;
};

struct TFunction {
    PFunction Parent; /* owner of a label; nil otherwise */
    TAVSTR Buffer;    /* machine code */
    uint32_t BufLen;
    TAVSTR Name;
    TAVSTR ImportName;  /* entry name in its library */
    uint32_t Address;   /* all bits set until known */
    int32_t DLLIndex;   /* import library index, -1 if not imported */
    uint32_t FuncIndex; /* index in the function list */
    TLabelType Type_;
    TAVBOOL IsExported;
    TAVBOOL IsCalled; /* reachable */
    PVarType RetVarType;
    TCallingConvention CallConvention;
    TFuncParam* Params; /* dynamic array */
    uint32_t ParamCount;
    uint32_t ParamSize;
    uint32_t LocalCount;
    uint32_t LocalSize;
    uint32_t LocalOffset; /* push depth within the body */
    TAVBOOL DeclareOnly;  /* method declared, body not yet compiled */
    PVar CallData;        /* pointer variable it is called through */
    TFixupList* FixupList;
    TTextList* UsesList;
    TFuncList* DependFuncs;
};

struct TFixup {
    TFixupType hint;
    uint32_t position; /* in the owner's code, or in the image without owner */
    uint8_t size;
    uint32_t offset;
    TJmpType jmp;
    uint8_t codebits; /* bit mode of the code it sits in: 16, 32, 64; 0 = not known */
    PFunction parentfunc;
    union {
        uint32_t index; /* target function index */
        void* data;     /* PConst or PVar */
    };
};

/* One import library. */
struct TImports {
    TAVSTR name;
    TFuncList* funcs; /* reachable imported functions, in order of first marking */
    uint32_t refs;    /* always 0 */
};

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
static_assert(sizeof(TCompilerFlags) == 28, "TCompilerFlags is 28 bytes");
static_assert(offsetof(TCompilerFlags, relocations) == 24, "flag offsets");
static_assert(offsetof(TCompilerFlags, stackframe_on) == 26, "flag offsets");
#endif

#if defined(TAV_TARGET_32)
/* The layout plug-ins rely on, on the 32-bit target. */
#  ifndef __cplusplus
#    define static_assert _Static_assert
#  endif
static_assert(sizeof(TAVEXT) == 10, "TAVEXT");
static_assert(offsetof(TConst, varname) == 4 && offsetof(TConst, active) == 8 && offsetof(TConst, address) == 12 &&
                  offsetof(TConst, str) == 16 && offsetof(TConst, int_) == 24 && offsetof(TConst, ext) == 32 &&
                  sizeof(TConst) == 48,
              "TConst layout");
static_assert(offsetof(TVar, name) == 4 && offsetof(TVar, mode) == 8 && offsetof(TVar, address) == 12 &&
                  offsetof(TVar, active) == 16 && offsetof(TVar, initialised) == 17 && offsetof(TVar, content) == 20 &&
                  offsetof(TVar, multiplier) == 24 && offsetof(TVar, type_) == 28 && sizeof(TVar) == 32,
              "TVar layout");
static_assert(offsetof(TVarField, variable) == 4 && offsetof(TVarField, func) == 36 && sizeof(TVarField) == 40,
              "TVarField layout");
static_assert(offsetof(TVarType, name) == 4 && offsetof(TVarType, size) == 8 && offsetof(TVarType, signed_) == 12 &&
                  offsetof(TVarType, vt) == 13 && offsetof(TVarType, fieldcount) == 16 &&
                  offsetof(TVarType, fields) == 20 && offsetof(TVarType, largestfield) == 24 &&
                  offsetof(TVarType, isPointer) == 28 && offsetof(TVarType, dynSize) == 29 &&
                  offsetof(TVarType, int_lower) == 32 && offsetof(TVarType, int_upper) == 40 &&
                  offsetof(TVarType, real_lower) == 32 && offsetof(TVarType, real_upper) == 48 &&
                  sizeof(TVarType) == 64,
              "TVarType layout");
static_assert(offsetof(TFuncParam, name) == 4 && sizeof(TFuncParam) == 8, "TFuncParam layout");
static_assert(offsetof(TFunction, Buffer) == 4 && offsetof(TFunction, BufLen) == 8 && offsetof(TFunction, Name) == 12 &&
                  offsetof(TFunction, ImportName) == 16 && offsetof(TFunction, Address) == 20 &&
                  offsetof(TFunction, DLLIndex) == 24 && offsetof(TFunction, FuncIndex) == 28 &&
                  offsetof(TFunction, Type_) == 32 && offsetof(TFunction, IsExported) == 33 &&
                  offsetof(TFunction, IsCalled) == 34 && offsetof(TFunction, RetVarType) == 36 &&
                  offsetof(TFunction, CallConvention) == 40 && offsetof(TFunction, Params) == 44 &&
                  offsetof(TFunction, ParamCount) == 48 && offsetof(TFunction, ParamSize) == 52 &&
                  offsetof(TFunction, LocalCount) == 56 && offsetof(TFunction, LocalSize) == 60 &&
                  offsetof(TFunction, LocalOffset) == 64 && offsetof(TFunction, DeclareOnly) == 68 &&
                  offsetof(TFunction, CallData) == 72 && offsetof(TFunction, FixupList) == 76 &&
                  offsetof(TFunction, UsesList) == 80 && offsetof(TFunction, DependFuncs) == 84 &&
                  sizeof(TFunction) == 88,
              "TFunction layout");
static_assert(offsetof(TFixup, position) == 4 && offsetof(TFixup, size) == 8 && offsetof(TFixup, offset) == 12 &&
                  offsetof(TFixup, jmp) == 16 && offsetof(TFixup, parentfunc) == 20 && offsetof(TFixup, index) == 24 &&
                  offsetof(TFixup, data) == 24 && sizeof(TFixup) == 28,
              "TFixup layout");
static_assert(offsetof(TImports, funcs) == 4 && offsetof(TImports, refs) == 8 && sizeof(TImports) == 12,
              "TImports layout");
#endif

/* ==== Plug-in service table ====
 * The 31 services the host hands to a plug-in's entry, in their fixed slot
 * order, with the builder callback and the entry types. Every service, the
 * entry and the callbacks use TAV_CALL; a TAVBOOL argument takes a whole
 * argument slot. Indices are 0-based; output positions are 1-based. */

#ifdef __cplusplus
extern "C" {
#endif

#ifndef __cplusplus
#  include <uchar.h> /* char16_t */
#endif

typedef enum TTriggerEvent { teStart = 0, teComplete = 1 } TTriggerEvent;

/* A builder's callback: evt, and the id the registry gave the builder. */
typedef TAVBOOL(TAV_CALL* TRBCallback)(TTriggerEvent evt, uint32_t id);

typedef struct TPluginInterface {
    /*  0 */ void(TAV_CALL* Log_MessageA)(const char* msg, TAVBOOL fatal);
    /*  1 */ void(TAV_CALL* Log_MessageW)(const char16_t* msg, TAVBOOL fatal);
    /*  2 */ int32_t(TAV_CALL* RegisterBuilder)(const char* name, TRBCallback cb);
    /*  3 */ void(TAV_CALL* File_Commit)(void);
    /*  4 */ uint32_t(TAV_CALL* File_AddBytes)(const void* bytes, uint32_t len);
    /*  5 */ uint32_t(TAV_CALL* File_Len)(void);
    /*  6 */ uint32_t(TAV_CALL* File_ReplaceBytes)(uint32_t pos, const void* bytes, uint32_t len);
    /*  7 */ uint8_t*(TAV_CALL* Code_Get)(uint32_t i, uint32_t* len);
    /*  8 */ uint32_t(TAV_CALL* Code_Count)(void);
    /*  9 */ PConst(TAV_CALL* Const_Get)(uint32_t i);
    /* 10 */ uint32_t(TAV_CALL* Const_Count)(void);
    /* 11 */ PFixup(TAV_CALL* Fixup_Get)(PFunction fn, uint32_t i);
    /* 12 */ uint32_t(TAV_CALL* Fixup_Count)(PFunction fn);
    /* 13 */ PFunction(TAV_CALL* Func_Get)(uint32_t i);
    /* 14 */ uint32_t(TAV_CALL* Func_Count)(void);
    /* 15 */ uint32_t(TAV_CALL* File_WriteCode)(uint32_t i);
    /* 16 */ PFunction(TAV_CALL* import_get)(uint32_t ilib, uint32_t i);
    /* 17 */ uint32_t(TAV_CALL* import_count)(uint32_t ilib);
    /* 18 */ uint32_t(TAV_CALL* ilib_count)(void);
    /* 19 */ const char*(TAV_CALL* ilib_name)(uint32_t ilib);
    /* 20 */ void(TAV_CALL* fixup_add)(TFixupType ft, PFunction func, uint32_t index, uint32_t pos, uint8_t size,
                                       uint32_t ofs);
    /* 21 */ void(TAV_CALL* func_emit)(PFunction fn, const void* p, uint32_t len);
    /* 22 */ void(TAV_CALL* func_rem)(PFunction fn, uint32_t start, uint32_t len);
    /* 23 */ TAVBOOL(TAV_CALL* func_execute)(const char* c, uint32_t len);
    /* 24 */ PVar(TAV_CALL* Var_Get)(uint32_t i);
    /* 25 */ uint32_t(TAV_CALL* Var_Count)(void);
    /* 26 */ void(TAV_CALL* set_fileext)(const char16_t* s);
    /* 27 */ uint8_t*(TAV_CALL* file_getbuf)(void);
    /* 28 */ uint32_t(TAV_CALL* file_writeresources)(uint32_t rva);
    /* 29 */ TCompilerFlags*(TAV_CALL* get_flags)(void);
    /* 30 */ const char*(TAV_CALL* get_filename)(void); /* output file of the build, UTF-8; "" outside one */
} TPluginInterface;

/* "onEntry": receives the service table, returns the display name. */
typedef const char*(TAV_CALL* TDLLEntry)(const TPluginInterface* funcTable);
/* "onExit": optional, looked up and never called. */
typedef void(TAV_CALL* TDLLExit)(void);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
static_assert(sizeof(TPluginInterface) == 31 * sizeof(void (*)(void)), "31 service slots");
static_assert(offsetof(TPluginInterface, get_flags) == 29 * sizeof(void (*)(void)), "slot order");
static_assert(offsetof(TPluginInterface, get_filename) == 30 * sizeof(void (*)(void)), "slot order");
#endif

#endif
