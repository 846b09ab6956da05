#pragma once
#include <vector>

// The global services, created by InitTavik and freed by DeinitTavik.
struct TOperand;
class TSettings;
class TIdentManager;
class TVarManager;
class TFunctionManager;
class TFixupManager;
class TImportManager;
class TRegisterManager;
class TResourceManager;
class TBlockStack;
class TCompiler;
class TConstManager;
class TDefineManager;
class TMacroManager;
class TLog;
class TPluginManager;

extern std::vector<TOperand*>* FuncOps;  // argument operands of the call being compiled
extern TSettings* Settings;
extern TIdentManager* Idents;
extern TVarManager* VarMan;
extern TFunctionManager* FuncMan;
extern TFixupManager* FixMan;
extern TImportManager* Imports;
extern TRegisterManager* RegMan;
extern TResourceManager* ResMan;
extern TBlockStack* blStack;
extern TCompiler* Compiler;
extern TConstManager* Consts;
extern TDefineManager* DefMan;
extern TMacroManager* MacMan;
extern TLog* Log;
extern TPluginManager* Plugins;
