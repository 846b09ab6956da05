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
    uint32_t cpu_mode;      /* processor level, 686 */
    uint32_t cpu_bits;      /* 16, 32 or 64; 0 until "#set bits" */
    TAVBOOL  fpu_enabled;
    uint8_t  pad0[3];
    uint32_t sse_version;
    uint32_t def_callmeth;  /* TCallMethod */
    uint32_t entry_funcid;  /* 0 = rtlmain */
    TAVBOOL  relocations;
    TAVBOOL  peek_mode;
    TAVBOOL  stackframe_on;
    uint8_t  pad1;
} TCompilerFlags;

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
static_assert(sizeof(TCompilerFlags) == 28, "TCompilerFlags is 28 bytes");
static_assert(offsetof(TCompilerFlags, relocations) == 24, "flag offsets");
static_assert(offsetof(TCompilerFlags, stackframe_on) == 26, "flag offsets");
#endif

#endif
