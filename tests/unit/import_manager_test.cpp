#include "classes/import_manager.h"

#include "classes/shared_records.h"
#include "symbol_tables_fixture.h"

using ImportManager = SymbolTables;

TEST_F(ImportManager, LibrariesByExactName) {
    EXPECT_EQ(Imports->getLib(0), nullptr);
    EXPECT_EQ(Imports->addImportLib("kernel32.dll"), 0);
    EXPECT_EQ(Imports->addImportLib("user32.dll"), 1);
    EXPECT_EQ(Imports->addImportLib("kernel32.dll"), 0);
    EXPECT_EQ(Imports->addImportLib("KERNEL32.DLL"), 2);
    EXPECT_EQ(Imports->Count(), 3u);
    PImports lib = Imports->getLib(1);
    EXPECT_EQ(tavView(lib->name), "user32.dll");
    EXPECT_EQ(std::string(lib->name), "user32.dll");  // zero-terminated
    EXPECT_EQ(lib->refs, 0u);
    EXPECT_TRUE(lib->funcs->items.empty());
    EXPECT_EQ(Imports->getLib(3), nullptr);
    EXPECT_EQ(Imports->List().GetString(2), "KERNEL32.DLL");
}

TEST_F(ImportManager, ReferenceToAMissingLibraryIsRefused) {
    PFunction f = FuncMan->CreateFunction(ltProc, nullptr);
    EXPECT_THROW(Imports->addImportRef(0, f), EInternalError);
    f->DLLIndex = 3;
    EXPECT_THROW(setCalled(f, nullptr), EInternalError);
}
