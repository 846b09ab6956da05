#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "reader/cur_token.h"
#include "encoder/operand.h"
#include "encoder/tav_assembler.h"
#include "tavik/plugin_api.h"

class TAFile;

// The compile driver: loads the project, reads its header, runs the
// statement loop over the project and every source nested in it, and owns
// the one instruction encoder.
class TCompiler {
public:
    TCompiler();
    ~TCompiler();
    TCompiler(const TCompiler&) = delete;
    TCompiler& operator=(const TCompiler&) = delete;

    void InitCompiler();
    void LoadProject(const std::string& projFile);
    int32_t Compile();
    uint32_t GetTotalLines() const;

    // Takes ownership of a source buffer (every TAFile::Create lands here).
    void addFile(TAFile* file);
    // Frees the texts of every source once the program is compiled; the
    // image is built from the records alone.
    void releaseSources();

    // The statement loop; funcIndex >= 0 compiles into that function and
    // closes the current identifier scope at the end (-1 keeps the current one).
    void HandleDeclarations(int32_t funcIndex);

    // The next operand of an instruction as a new record the caller owns.
    // first false: a "," comes first. regLblRef: an undeclared name becomes
    // a forward label reference.
    POperand moveNextOperand(bool first, bool regLblRef);

    // The epilogue of func: pops of its uses, release of its locals, leave.
    void retTriggered(PFunction func);
    // Before "return" or the end of a procedure: what the body pushed and
    // left on the stack above its uses is released, when the push depth is
    // known, so that the pops of uses find their registers.
    void releasePushes(PFunction func);
    // Encodes one instruction into fn; the caller keeps the operands.
    uint32_t execInstruction(PFunction fn, const std::string& strName, POperand op1 = nullptr, POperand op2 = nullptr,
                             POperand op3 = nullptr);
    // Encodes one instruction and returns its bytes (empty on any error).
    std::string buildInstruction(PFunction fn, const std::string& strName, POperand op1 = nullptr,
                                 POperand op2 = nullptr, POperand op3 = nullptr);

    // Whether the last instruction compiled into fn was a ret, with no label
    // placed after it. The ends of procedures and of rtlmain consult it;
    // code appended after the ret clears it.
    bool lastWasRet(const TFunction* fn) const;
    void clearLastRet(const TFunction* fn);
    // Places a label record (new or a forward reference) at the current end
    // of fn's code.
    void placeLabel(PFunction lbl, PFunction fn);
    // A local variable is addressed in the frame of the function that owns
    // it: one of an enclosing procedure is out of reach (fatal).
    void checkOwnFrame(const TVar* v) const;
    // The push depth of fn, from which its parameters are reached through
    // the stack pointer without the frame: fatal once the stack pointer has
    // changed by an amount the depth could not follow.
    uint32_t stackDepth(const TFunction* fn) const;
    // Creates a forward label reference for name, first used at the current
    // position of the current file, and declares it at the current scope.
    PFunction addLabelRef(const std::string& name);

    // Each reads exactly one token from the current file into F_CurToken.
    bool ExpectSymbol(std::string_view expected);
    TTavToken ExpectToken(std::initializer_list<TTavToken> kinds);
    TIdentType ExpectIdentType(std::initializer_list<TIdentType> kinds);
    bool ExpectFreeIdent();
    TKeyword ExpectKeyword(std::initializer_list<TKeyword> keys);

    // A directive (as written, e.g. "#end") ended the current loop: an error
    // unless the loop compiles a nested body or section.
    void sectionClosed(const std::string& directive) const;

    TTavAssembler& Assembler() { return F_Assembler; }
    // Set by a call statement for the next call instruction: it goes through
    // the pointer variable of this declared function, which the caller counts.
    const TFunction* F_CountedCall = nullptr;
    // Set while the statement loop reads the first token of a statement.
    bool F_StatementStart = false;
    // A prefix written as a statement of its own: it goes with the next
    // instruction, which must take it.
    PInstruction F_PendingPrefix = nullptr;
    // Nesting depth of the statement loop (1 = the outermost loop).
    uint32_t loopDepth() const { return F_LoopDepth; }

    std::vector<TAFile*> F_ListFiles;  // owned; the macro "master" body first
    // Files taken by an include directive, by full path: each is taken once.
    std::unordered_set<std::string> F_Included;
    // Paths of every file the compilation read: sources and resource files.
    std::vector<std::string> F_FilesRead;
    TAFile* F_CurFile = nullptr;
    TFunction* F_CurFunc = nullptr;
    TCurrentToken* F_CurToken = nullptr;
    TCurrentToken* F_PeekToken = nullptr;
    // Set while the name of a declaration is read: an index after it is the
    // declaration's own, not one of a variable of that name.
    bool F_NameOnly = false;
    // Passes of #repeat sections in this compilation, nested ones included.
    uint64_t F_RepeatPasses = 0;
    // Characters of source compiled again by #repeat passes and macro
    // expansions; past a budget the build is refused (fatal), as a few
    // nested repeats or macros can multiply a short text without bound.
    uint64_t F_ReplayedChars = 0;
    // Characters of source read from files and handed in by plug-ins.
    uint64_t F_SourceChars = 0;
    void chargeReplay(uint64_t chars);
    // The operands of a statement are read: fatal when anything but its end
    // follows on the line (moreOperands: a "," could still follow).
    void statementEnds(bool moreOperands);

private:
    void readHeader();
    // The statements of HandleDeclarations by their first token.
    bool symbolStatement(int32_t funcIndex);
    void identStatement();
    void instructionLine();
    bool prefixedLine(PInstruction prefix);
    void prefixedInstruction(PInstruction prefix, PInstruction row);
    void pendingPrefixRefused() const;
    void encodeLine(PInstruction row, PInstruction prefix);
    void insertPrefix(PInstruction prefix, uint32_t fixupsBefore);
    bool operandFollows();
    // Moves over the symbol c if it is what follows.
    bool takeSymbol(char c);
    void defineLabel();
    void dispatchKeyword();
    // Encodes row into fn, the one way an instruction goes there: fatal with
    // the message number fault when it does not encode; the push depth
    // follows it and prefix goes before its opcode, moving the fixups from
    // fixupsBefore on.
    void emitInstruction(PFunction fn, PInstruction row, const char* fault, POperand op1 = nullptr,
                         POperand op2 = nullptr, POperand op3 = nullptr, PInstruction prefix = nullptr,
                         uint32_t fixupsBefore = 0);
    // Bytes of an encoded instruction go to fn; the mark follows the row.
    void appendInstruction(PFunction fn, PInstruction row);
    void trackPushDepth(PFunction fn, PInstruction row, const TOperand* op1, const TOperand* op2 = nullptr);
    // Notes the first change of the stack pointer the push depth cannot follow.
    void loseDepth(PFunction fn, PInstruction row, const TOperand* op1);
    void localMemory(POperand op, const TVar* v, int32_t fieldOffset, int32_t byteCount) const;
    void baseExpMemory(POperand op, const TCurrentToken* tok) const;
    void globalIndex(POperand op, const TVar* v);
    // The cases of moveNextOperand that take more than a few lines.
    POperand farOperand(POperand op, int64_t selector);
    void addressOperand(POperand op, TCurrentToken* tk);
    void identOperand(POperand op, TCurrentToken* tk, bool regLblRef);
    [[noreturn]] void methodOperandRefused(const TCurrentToken* tk);
    void checkLabelsDefined();

    TTavAssembler F_Assembler;
    std::vector<uint8_t> F_LastRet;  // by FuncIndex
    uint32_t F_LoopDepth = 0;
    uint32_t F_BodyDepth = 0;  // loop depth of the innermost procedure body
    bool F_InFarForm = false;  // reading the offset of segment:offset
};
