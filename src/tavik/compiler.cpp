#include "compiler.h"

#include "common.h"
#include "global.h"
#include "log.h"

TCompiler::TCompiler() { CompileFlags.stackframe_on = 1; }
TCompiler::~TCompiler() = default;
void TCompiler::InitCompiler() {}
void TCompiler::LoadProject(const std::string& fileName) { F_ProjectFile = fileName; }

bool TCompiler::Compile() {
    Log->FatalError("Compiling is not available yet: " + F_ProjectFile, false);
}

uint32_t TCompiler::GetTotalLines() const { return 0; }
