#include "global.h"

std::vector<TOperand*>* FuncOps = nullptr;
TSettings* Settings = nullptr;
TIdentManager* Idents = nullptr;
TVarManager* VarMan = nullptr;
TFunctionManager* FuncMan = nullptr;
TFixupManager* FixMan = nullptr;
TImportManager* Imports = nullptr;
TRegisterManager* RegMan = nullptr;
TResourceManager* ResMan = nullptr;
TBlockStack* blStack = nullptr;
TCompiler* Compiler = nullptr;
TConstManager* Consts = nullptr;
TDefineManager* DefMan = nullptr;
TMacroManager* MacMan = nullptr;
TLog* Log = nullptr;
TPluginManager* Plugins = nullptr;
