#include "classes/var_manager.h"

#include "classes/shared_records.h"
#include "symbol_tables_fixture.h"

using VarManager = SymbolTables;

namespace {
struct Builtin {
    const char* name;
    uint32_t size;
    int64_t lower, upper;
    bool isSigned, isPtr, dyn, isFloat;
};
const Builtin kTable[] = {
    {"byte", 1, 0, 255, false, false, false, false},
    {"char", 1, 0, 255, false, false, false, false},
    {"widechar", 2, 0, 65535, false, false, false, false},
    {"wchar", 2, 0, 65535, false, false, false, false},
    {"word", 2, 0, 65535, false, false, false, false},
    {"pointer", 4, 0, 4294967295LL, false, true, true, false},
    {"dword", 4, 0, 4294967295LL, false, false, false, false},
    {"qword", 8, 0, -1, false, false, false, false},
    {"boolean", 4, 0, 4294967295LL, false, false, false, false},
    {"sbyte", 1, -128, 127, true, false, false, false},
    {"short", 2, -32768, 32767, true, false, false, false},
    {"int16", 2, -32768, 32767, true, false, false, false},
    {"int32", 4, -2147483648LL, 2147483647LL, true, false, false, false},
    {"int64", 8, INT64_MIN, INT64_MAX, true, false, false, false},
    {"sysint", 4, -2147483648LL, 2147483647LL, true, false, true, false},
    {"sysword", 4, 0, 4294967295LL, false, false, true, false},
    {"real4", 4, 0, 0, false, false, false, true},
    {"real8", 8, 0, 0, false, false, false, true},
    {"real10", 10, 0, 0, false, false, false, true},
    {"single", 4, 0, 0, false, false, false, true},
    {"double", 8, 0, 0, false, false, false, true},
    {"extended", 10, 0, 0, false, false, false, true},
};
}  // namespace

TEST_F(VarManager, BuiltinTypesInTableOrder) {
    ASSERT_EQ(VarMan->F_VarTypes.size(), 22u);
    for (size_t i = 0; i < 22; ++i) {
        const Builtin& b = kTable[i];
        PVarType t = VarMan->F_VarTypes[i];
        SCOPED_TRACE(b.name);
        EXPECT_EQ(tavView(t->name), b.name);
        EXPECT_EQ(t->size, b.size);
        EXPECT_EQ(t->vt, b.isFloat ? dtFloat : dtInteger);
        EXPECT_EQ(t->signed_, b.isSigned);
        EXPECT_EQ(t->isPointer, b.isPtr);
        EXPECT_EQ(t->dynSize, b.dyn);
        EXPECT_EQ(t->fieldcount, 0u);
        if (b.isFloat) {
            EXPECT_EQ(typeRealLower(t), 0.0L);
            EXPECT_EQ(typeRealUpper(t), 0.0L);
        } else {
            EXPECT_EQ(t->int_lower, b.lower);
            EXPECT_EQ(t->int_upper, b.upper);
        }
        PIdent id = Idents->getIdent(t->ident);
        ASSERT_NE(id, nullptr);
        EXPECT_EQ(id->type_, itType);
        EXPECT_EQ(id->ptr, t);
    }
    EXPECT_EQ(VarMan->F_PtrType, VarMan->F_VarTypes[5]);
    EXPECT_EQ(VarMan->F_IntType, VarMan->F_VarTypes[14]);
    EXPECT_EQ(VarMan->F_UIntType, VarMan->F_VarTypes[15]);
    PIdent id = Idents->findIdent("SYSINT", Idents->F_CurrentScope);
    ASSERT_NE(id, nullptr);
    EXPECT_EQ(id->ptr, VarMan->F_IntType);
}

TEST_F(VarManager, WordSizedTypesFollowTheTarget) {
    const struct {
        uint32_t ptr;
        int64_t intLower, intUpper, wordUpper;
    } cases[] = {
        {8, INT64_MIN, INT64_MAX, -1},
        {2, -32768, 32767, 65535},
        {4, -2147483648LL, 2147483647LL, 4294967295LL},
    };
    PVarType dword = VarMan->F_VarTypes[6];
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ptr);
        ptrSize = c.ptr;
        VarMan->resizeVarTypes();
        for (PVarType t : {VarMan->F_PtrType, VarMan->F_IntType, VarMan->F_UIntType}) EXPECT_EQ(t->size, c.ptr);
        EXPECT_EQ(VarMan->F_IntType->int_lower, c.intLower);
        EXPECT_EQ(VarMan->F_IntType->int_upper, c.intUpper);
        EXPECT_EQ(VarMan->F_UIntType->int_lower, 0);
        EXPECT_EQ(VarMan->F_UIntType->int_upper, c.wordUpper);
        EXPECT_EQ(VarMan->F_PtrType->int_upper, c.wordUpper);
        EXPECT_EQ(dword->size, 4u);
        EXPECT_EQ(dword->int_upper, 4294967295LL);
    }
}

// A variable gets no content buffer: only an initial value makes one, so
// that a huge uninitialised array costs no memory.
TEST_F(VarManager, VariablesGetIdentifiersAndNoContent) {
    EXPECT_EQ(VarMan->getVar(0), nullptr);  // no variable yet
    PVarType dword = VarMan->F_VarTypes[6];
    PVar arr = VarMan->addVar(vmGlobal, "Table", dword, 10, 0);
    EXPECT_EQ(arr->content, nullptr);
    PVar huge = VarMan->addVar(vmGlobal, "huge", dword, 0x3FFFFFFF, 0);
    EXPECT_EQ(huge->content, nullptr);
    EXPECT_EQ(arr->multiplier, 10u);
    EXPECT_EQ(arr->type_, dword);
    EXPECT_FALSE(arr->active);
    EXPECT_FALSE(arr->initialised);
    EXPECT_EQ(tavView(arr->name), "Table");
    EXPECT_EQ(Idents->getIdent(arr->ident)->type_, itGlobalVar);
    EXPECT_EQ(Idents->findIdent("TABLE", 0)->ptr, arr);

    PVar loc = VarMan->addVar(vmLocal, "i", dword, 1, static_cast<uint32_t>(-8));
    EXPECT_EQ(Idents->getIdent(loc->ident)->type_, itLocalVar);
    EXPECT_EQ(loc->address, static_cast<uint32_t>(-8));
    EXPECT_EQ(loc->content, nullptr);
    EXPECT_EQ(VarMan->getVar(0), arr);
    EXPECT_EQ(VarMan->getVar(1), huge);
    EXPECT_EQ(VarMan->getVar(2), loc);
    EXPECT_EQ(VarMan->getVar(3), nullptr);
    EXPECT_EQ(VarMan->getVar(0xFFFFFFFFu), nullptr);
}

TEST_F(VarManager, DeclaredTypes) {
    PVarType f = VarMan->addType("myreal", 8, -1.5L, 1e300L, false, false);
    EXPECT_EQ(f->vt, dtFloat);
    EXPECT_TRUE(f->signed_);
    EXPECT_EQ(typeRealLower(f), -1.5L);
    EXPECT_EQ(typeRealUpper(f), 1e300L);
    PVarType p = VarMan->addType("byte*", 4, 0, 4294967295LL, true, true);
    EXPECT_EQ(p->vt, dtInteger);
    EXPECT_FALSE(p->signed_);
    EXPECT_EQ(Idents->findIdent("BYTE*", 0)->ptr, p);
    EXPECT_EQ(VarMan->getVarType(22), f);
    EXPECT_EQ(VarMan->getVarType(24), nullptr);
}

TEST_F(VarManager, FindField) {
    EXPECT_EQ(findField(VarMan->F_VarTypes[0], "x"), nullptr);
    PVarType blk = VarMan->addType("point", 8, 0, 0, false, false);
    PVarType dword = VarMan->F_VarTypes[6];
    VarMan->addField(blk, vftType, "x", dword, 1, 0, nullptr);
    VarMan->addField(blk, vftType, "y", dword, 1, 4, nullptr);
    int method = 0;
    VarMan->addField(blk, vftFunc, "len", nullptr, 0, 0, reinterpret_cast<PFunction>(&method));
    EXPECT_EQ(blk->fieldcount, 3u);
    TVarField* y = findField(blk, "Y");
    ASSERT_NE(y, nullptr);
    EXPECT_EQ(y->variable.address, 4u);
    EXPECT_EQ(y->variable.type_, dword);
    EXPECT_EQ(findField(blk, "LEN")->ft, vftFunc);
    EXPECT_EQ(findField(blk, "z"), nullptr);
    EXPECT_EQ(findField(nullptr, "x"), nullptr);
}
