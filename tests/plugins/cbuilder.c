/* Builders in plain C, built without unwind tables: nothing may unwind
 * through their frames. Each misuses the services in one way, then goes on
 * calling them as a careless plug-in would; "after the stop" must never be
 * printed, and no output file may be left. */
#include <stdlib.h>
#include <string.h>

#include "tavik/plugin_api.h"

static const TPluginInterface* host;

/* The stale record is used after its free on purpose. */
#pragma GCC diagnostic ignored "-Wuse-after-free"
static int32_t idFatal = -1, idFalse = -1, idRange = -1, idForeign = -1, idStale = -1, idNullFn = -1, idFixup = -1,
               idIndex = -1, idSelfEmit = -1, idSelfFile = -1, idEmitPast = -1, idReplacePast = -1;

static void goOn(void) {
    host->File_AddBytes("more", 4);
    host->Log_MessageA("after the stop", 0);
}

/* Services handed bytes from the very buffer they change. */
static TAVBOOL selfCopies(int32_t i, PFunction main) {
    uint32_t len = 0, k;
    if (i == idSelfEmit) {
        /* The code of rtlmain appended to itself until it passes 1 MiB:
         * each append moves the buffer it reads from. */
        for (k = 0; k < 20; ++k) {
            const uint8_t* code = host->Code_Get(0, &len);
            host->func_emit(main, code, len);
        }
        host->File_WriteCode(0);
    } else {
        /* 256 counting bytes, then moves down and up inside the buffer
         * (overlapping), then the image appended to itself until it is
         * larger than the room the host reserved. */
        uint8_t b[256];
        for (k = 0; k < 256; ++k) b[k] = (uint8_t)k;
        host->File_AddBytes(b, 256); /* positions 3 .. 258 */
        host->File_ReplaceBytes(3, host->file_getbuf() + 12, 100);
        host->File_ReplaceBytes(150, host->file_getbuf() + 139, 100);
        for (k = 0; k < 15; ++k) host->File_AddBytes(host->file_getbuf(), host->File_Len());
    }
    return 1;
}

static TAVBOOL TAV_CALL cBuilder(TTriggerEvent evt, uint32_t id) {
    int32_t i = (int32_t)id;
    PFunction main;
    if (evt != teComplete) return 1;
    main = host->Func_Get(0);
    host->File_AddBytes("MZ", 2);
    host->set_fileext(u"exe");
    if (i == idSelfEmit || i == idSelfFile) return selfCopies(i, main);
    if (i == idFatal) {
        host->Log_MessageA("c plug-in stops the build", 1);
    } else if (i == idFalse) {
        return 0;
    } else if (i == idRange) {
        host->func_rem(main, 0, 1);
    } else if (i == idForeign) {
        /* A copy of a host record is still not one the host made. */
        TFunction copy;
        PFixup x;
        memcpy(&copy, main, sizeof copy);
        host->Log_MessageA(host->Fixup_Count(&copy) ? "foreign record counted" : "foreign record: 0", 0);
        x = host->Fixup_Get(&copy, 0);
        if (x) x->position = 0;
        host->func_emit(&copy, "\x90", 1);
    } else if (i == idStale) {
        void* p = malloc(sizeof(TFunction));
        uintptr_t gone = (uintptr_t)p;
        free(p);
        host->func_rem((PFunction)gone, 1, 1);
    } else if (i == idNullFn) {
        host->func_emit(NULL, "\x90", 1);
    } else if (i == idFixup) {
        TFunction copy;
        memcpy(&copy, main, sizeof copy);
        host->fixup_add(ftLabel, &copy, 0, 0, 4, 0);
    } else if (i == idEmitPast) {
        uint32_t len = 0;
        const uint8_t* code = host->Code_Get(0, &len);
        host->func_emit(main, code + 1, len);
    } else if (i == idReplacePast) {
        host->File_ReplaceBytes(1, host->file_getbuf() + 1, host->File_Len());
    } else if (i == idIndex) {
        host->Log_MessageA(host->ilib_name(host->ilib_count()), 0);
    }
    goOn();
    return 1;
}

__attribute__((visibility("default"))) const char* TAV_CALL onEntry(const TPluginInterface* table) {
    host = table;
    idFatal = host->RegisterBuilder("c_fatal", cBuilder);
    idFalse = host->RegisterBuilder("c_false", cBuilder);
    idRange = host->RegisterBuilder("c_range", cBuilder);
    idForeign = host->RegisterBuilder("c_foreign", cBuilder);
    idStale = host->RegisterBuilder("c_stale", cBuilder);
    idNullFn = host->RegisterBuilder("c_nullfn", cBuilder);
    idFixup = host->RegisterBuilder("c_fixup", cBuilder);
    idIndex = host->RegisterBuilder("c_index", cBuilder);
    idSelfEmit = host->RegisterBuilder("c_selfemit", cBuilder);
    idSelfFile = host->RegisterBuilder("c_selffile", cBuilder);
    idEmitPast = host->RegisterBuilder("c_emitpast", cBuilder);
    idReplacePast = host->RegisterBuilder("c_replacepast", cBuilder);
    return "C Builder";
}
