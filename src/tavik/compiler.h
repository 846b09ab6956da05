#pragma once
#include <cstdint>
#include <string>

// The compile driver. Until the statement loop exists it only holds the
// project name and refuses to compile.
class TCompiler {
public:
    TCompiler();
    ~TCompiler();
    void InitCompiler();
    void LoadProject(const std::string& fileName);
    bool Compile();
    uint32_t GetTotalLines() const;

private:
    std::string F_ProjectFile;
};
