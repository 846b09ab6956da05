#include "compiler.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>

#include "ascii.h"
#include "reader/afile.h"
#include "classes/const_manager.h"
#include "classes/define_manager.h"
#include "classes/fixup_manager.h"
#include "classes/function_manager.h"
#include "classes/ident_manager.h"
#include "classes/shared_records.h"
#include "common.h"
#include "driver/driver.h"
#include "exceptions.h"
#include "global.h"
#include "handlers/handlers.h"
#include "log.h"
#include "nesting_guard.h"
#include "platform/platform.h"
#include "plugins/plugin_manager.h"
#include "driver/settings.h"
#include "reader/word_table.h"

namespace {

// Instructions without operands that push or pop, and the bytes they move
// the stack by.
const std::pair<std::string_view, int32_t> kStackEmits[] = {
    {"pushad", 32}, {"popad", -32}, {"pushfd", 4}, {"popfd", -4}, {"pushfq", 8}, {"popfq", -8},
};

// The prefixes that may stand on their instruction's line.
enum class Prefix { none, rep, repTest, lock };

Prefix prefixOf(std::string_view n) {
    if (n == "rep") return Prefix::rep;
    if (n == "repe" || n == "repz" || n == "repne" || n == "repnz" || n == "repn") return Prefix::repTest;
    if (n == "lock") return Prefix::lock;
    return Prefix::none;
}

// The string instructions: rep repeats them all, the forms of repe and
// repne the two that compare.
bool takesPrefix(Prefix p, std::string_view n) {
    if (n.size() != 5 || (n[4] != 'b' && n[4] != 'w' && n[4] != 'd')) return false;
    const std::string_view stem = n.substr(0, 4);
    const bool compares = stem == "cmps" || stem == "scas";
    switch (p) {
    case Prefix::rep: return compares || stem == "movs" || stem == "stos" || stem == "lods";
    case Prefix::repTest: return compares;
    default: return false;
    }
}

// What lock makes atomic: a read-modify-write of memory.
bool lockable(std::string_view n) {
    static constexpr std::string_view rows[] = {"add", "adc", "and", "or",  "sbb", "sub",  "xor",  "btc",    "btr",
                                                "bts", "dec", "inc", "neg", "not", "xchg", "xadd", "cmpxchg"};
    return std::find(std::begin(rows), std::end(rows), n) != std::end(rows);
}

// Bytes a push or pop of the operand moves the stack by: a value in memory
// whole words (a part word is pushed zero-extended), anything else one word
// (a 16-bit register is pushed without an operand-size prefix).
uint32_t stackBytes(const TOperand* op) {
    switch (op->hint) {
    case otVar:
    case otMem: {
        const uint32_t size = op->size ? op->size : ptrSize;
        return (size + ptrSize - 1) / ptrSize * ptrSize;
    }
    default: return ptrSize;
    }
}

// A statement that begins with the value of a named constant or define
// and goes on is an attempt to change it: the name as written before the
// cursor, and what it is.
void refuseNamedValue(const TAFile* f) {
    uint32_t start = f->CurChar;
    while (start >= 1 && ascii::isNameChar(f->charAt(start))) --start;
    if (start == f->CurChar || !ascii::isNameStart(f->charAt(start + 1))) return;
    const std::string name(f->F_Buffer.substr(start, f->CurChar - start));
    const PIdent id = Idents->findIdent(name);
    if (!id || (id->type_ != itConst && id->type_ != itDefine)) return;
    Log->FatalError(
        "[3002] \"" + name + "\" is a " + (id->type_ == itConst ? "constant" : "define") + " and cannot be assigned",
        true);
}

const char* const kStandardInclude = "tavik.tav";

// Bodies, sections and macros nest by recursion of the statement loop; past
// this depth a further one is refused before it could exhaust the stack.
constexpr uint32_t kMaxLoopDepth = 500;

// Characters of source that repeats and macro expansions may compile again.
// Text compiled again may grow with the program, not beyond: a fixed
// allowance and a share per character of source read.
constexpr uint64_t kReplayAllowance = uint64_t(1) << 24;
constexpr uint64_t kReplayPerSourceChar = 64;

}  // namespace

TCompiler::TCompiler() { CompileFlags.stackframe_on = 1; }

TCompiler::~TCompiler() {
    for (TAFile* f : F_ListFiles) delete f;
    delete F_CurToken;
    delete F_PeekToken;
}

void TCompiler::InitCompiler() {
    if (!F_CurToken) F_CurToken = new TCurrentToken();
    if (!F_PeekToken) F_PeekToken = new TCurrentToken();
    F_PendingPrefix = nullptr;
    InstallReaderLogHooks();
}

void TCompiler::LoadProject(const std::string& projFile) {
    Settings->SetCompilerPath(strTAVIK_PATH);
    Settings->SetProjectPath(platform::ExtractFilePath(platform::FullPath(projFile)));
    TAFile* f = TAFile::Create();
    if (!f->loadFile(projFile, nullptr)) Log->FatalError(projFile + " does not exist", true);
    F_CurFile = f;
}

int32_t TCompiler::Compile() {
    if (!F_CurFile) throw EInternalError("Compile without a loaded project");
    if (!Plugins) throw EInternalError("Compile without the plug-in manager");
    DefMan->addDefine("MMX_SUPPORT", int64_t(1));

    PFunction main = FuncMan->CreateFunction(ltProc, nullptr);
    F_CurFunc = main;
    tavAssign(main->Name, "rtlmain");
    tavAssign(main->ImportName, "rtlmain");
    setCalled(main, nullptr);
    Idents->addIdent(itProc, "rtlmain", main);

    readHeader();

    handle_DIRECTIVE_doinclude(kStandardInclude, true);
    Plugins->builderStartTrigger();
    HandleDeclarations(-1);

    // The main body must not run on into the code laid out after it.
    if (!lastWasRet(main)) {
        retTriggered(main);  // its uses are popped, as before an explicit retn
        appendCode(main, "\xC3");
        clearLastRet(main);
    }

    Consts->clearInactive();
    checkLabelsDefined();
    return 0;
}

void TCompiler::readHeader() {
    if (ExpectKeyword({keyProgram}) == keyNone) Log->FatalError("[0000] Expected keyword \"program\"");
    if (ExpectToken({ttIdent}) == ttNone) Log->FatalError("[0001] Expected identifier");
    const std::string name = F_CurToken->F_String;
    if (!Plugins->selectBuilder(name)) {
        if (Plugins->builderCount() == 0) {
            // Nothing could build any project: say where the plug-ins were looked for.
            const std::string folder = PluginFolder();
            std::string why;
            if (!platform::FolderExists(folder)) why = "no plug-in was found, as there is no folder " + folder;
            else if (Plugins->plugList().empty()) why = "no plug-in was found in " + folder;
            else why = "no plug-in in " + folder + " has a builder";
            Log->FatalError("[0002] Unknown application type " + upperAscii(name) + ": " + why);
        }
        std::string msg = "Unknown application type " + upperAscii(name) + ", installed: ";
        for (uint32_t i = 0; i < Plugins->builderCount(); ++i) msg += Plugins->builderName(i) + ", ";
        msg.resize(msg.size() - 2);
        Log->FatalError("[0002] " + msg);
    }
    if (ExpectToken({ttAnsiString}) == ttNone) Log->FatalUnexpectedToken("1311");
    if (!ExpectSymbol(";")) Log->FatalUnexpectedToken("1312");
}

void TCompiler::checkLabelsDefined() {
    for (PFunction f : FuncMan->F_List) {
        if (f->Type_ != ltRef) continue;
        const TFunctionHostInfo& at = FuncMan->hostInfo(f);
        Log->FatalError("[00012] Label " + std::string(funcName(f)) + " does not exist!", true, at.refCharPos,
                        at.refLine, at.refColumn, at.refFile);
    }
}

uint32_t TCompiler::GetTotalLines() const {
    uint32_t total = 0;
    for (const TAFile* f : F_ListFiles) total += f->F_TotalLines;
    return total;
}

void TCompiler::addFile(TAFile* file) { F_ListFiles.push_back(file); }

void TCompiler::releaseSources() {
    for (TAFile* f : F_ListFiles) f->releaseText();
}

void TCompiler::chargeReplay(uint64_t chars) {
    F_ReplayedChars += chars;
    const uint64_t budget = kReplayAllowance + kReplayPerSourceChar * F_SourceChars;
    if (F_ReplayedChars > budget)
        Log->FatalError("[9905] Repeated sections and macro expansions compile more than " + std::to_string(budget) +
                        " characters of source (" + std::to_string(kReplayPerSourceChar) +
                        " for each character of the program, and " + std::to_string(kReplayAllowance) + ")");
}

// ---- the statement loop ----

void TCompiler::HandleDeclarations(int32_t funcIndex) {
    if (F_LoopDepth == 0) F_PendingPrefix = nullptr;
    TNestingGuard depth(F_LoopDepth, kMaxLoopDepth, "[9903] Statements nested too deeply");
    PFunction saved = F_CurFunc;
    const uint32_t savedBody = F_BodyDepth;
    if (funcIndex >= 0) {
        PFunction fn = FuncMan->getFunc(static_cast<uint32_t>(funcIndex));
        if (!fn) throw EInternalError("Statement loop for a function that does not exist");
        F_CurFunc = fn;
        F_BodyDepth = F_LoopDepth;
    }

    bool atEnd = false;  // the input ended
    for (bool running = true; running;) {
        TCurrentToken* tk = F_CurToken;
        F_StatementStart = true;
        const TTavToken t = F_CurFile->moveNextToken();
        F_StatementStart = false;
        // After a prefix of its own only directives and empty statements
        // may come before its instruction.
        if (F_PendingPrefix) {
            const bool instruction = t == ttIdent && tk->F_Keyword == keyNone && tk->F_IdentType == itNone;
            const bool passes = t == ttSymbol && (tk->F_String == ";" || tk->F_String == "#" || tk->F_String == "$");
            if (!instruction && !passes) pendingPrefixRefused();
        }
        switch (t) {
        case ttEOF:
            if (F_CurFile->F_Parent) {
                F_CurFile = F_CurFile->F_Parent;
            } else {
                running = false;
                atEnd = true;
            }
            break;
        case ttSymbol: running = symbolStatement(funcIndex); break;
        case ttSegment: handle_SEGMENT(); break;
        case ttRegister: handle_REGISTER(); break;
        case ttBaseExp: handle_BASEEXP(); break;
        case ttNumber:
        case ttFloat:
            if (!tk->F_DefName.empty() && tk->F_DefName[0] == '$') {
                tk->F_String = tk->F_DefName.substr(1);
                handle_DIRECTIVE_macrovar();
            } else if (const char c = F_CurFile->peekNextRealChar(true); c && std::strchr("=+-*/<>!", c)) {
                refuseNamedValue(F_CurFile);  // an operator follows
            }
            break;
        case ttIdent: identStatement(); break;
        default:
            if (t == ttAnsiString || t == ttWideString) refuseNamedValue(F_CurFile);
            Log->FatalError("[12000] Unexpected " + tk->getTokenStr());
        }
    }

    if (F_PendingPrefix) pendingPrefixRefused();
    if (funcIndex >= 0) {
        // A procedure's body ends at its "}", never at the end of the input.
        if (atEnd) Log->FatalUnexpectedToken("9904");
        Idents->deleteScope();
        F_CurFunc = saved;
        F_BodyDepth = savedBody;
    }
}

// A statement that starts with a symbol: ";", a directive, or the "}" that
// ends this loop. False when the loop ends.
bool TCompiler::symbolStatement(int32_t funcIndex) {
    TCurrentToken* tk = F_CurToken;
    if (tk->F_String.size() == 1 && tk->F_String[0] == ';') return true;
    const std::string sym = tk->F_String;
    if (!sym.empty() && (sym[0] == '#' || sym[0] == '$')) {
        if (!ascii::isNameStart(F_CurFile->peekNextRealChar(true)))
            Log->FatalError("[9902] Unexpected symbol \"" + sym + "\"");
        if (F_CurFile->moveNextToken() != ttIdent) Log->FatalError("Unknown directive: " + sym + tk->F_String);
        const std::string word = sym + lowerAscii(tk->F_String);
        if (!handle_DIRECTIVE()) return true;
        sectionClosed(word);
        return false;
    }
    if (sym == "}") {
        if (F_LoopDepth == 1 && funcIndex < 0) Log->FatalError("[9900] Unexpected symbol \"}\"");
        return false;
    }
    Log->FatalError("[9900] Unexpected symbol \"" + sym + "\"");
}

// A statement that starts with a word: a keyword, an instruction, a label,
// a call, a macro, a declaration or a variable.
void TCompiler::identStatement() {
    TCurrentToken* tk = F_CurToken;
    if (tk->F_Keyword != keyNone) {
        dispatchKeyword();
        return;
    }
    switch (tk->F_IdentType) {
    case itNone:
        if (F_CurFile->peekNextRealChar(true) == ':') {
            defineLabel();
        } else {
            instructionLine();
            takeSymbol(';');  // what the next round would skip
        }
        break;
    case itLabel: {
        auto* lbl = static_cast<PFunction>(tk->F_Pointer);
        if (!lbl || lbl->Type_ != ltRef) Log->FatalReservedToken("3001");
        if (!takeSymbol(':') && !ExpectSymbol(":")) Log->FatalUnexpectedToken("1212");
        placeLabel(lbl, F_CurFunc);
        break;
    }
    case itFunc:
    case itProc: handle_FUNCCALL(true, nullptr); break;
    case itFuncThis:
    case itProcThis: handle_FUNCCALL(true, tk->F_Operand); break;
    case itMacro: handle_MACROCALL(nullptr); break;
    case itType: handle_VARTYPE(); break;
    case itGlobalVar:
    case itLocalVar: handle_VAR(); break;
    default: Log->FatalReservedToken("3002");
    }
}

void TCompiler::sectionClosed(const std::string& directive) const {
    // Only a nested body ends at a closing directive; at the outermost level
    // it would drop the rest of the project.
    if (F_LoopDepth <= 1) Log->FatalError("Unexpected directive " + directive + " outside of a section");
    // Nor does a procedure's body end at one: it ends at its "}".
    if (F_LoopDepth == F_BodyDepth)
        Log->FatalError("Unexpected directive " + directive + " in the body of " + funcName(F_CurFunc));
}

void TCompiler::dispatchKeyword() {
    switch (F_CurToken->F_Keyword) {
    case keyProgram: Log->FatalError("[10000] Unexpected " + F_CurToken->getTokenStr());
    case keyConst: handle_CONST(); break;
    case keyImports: handle_IMPORTS(); break;
    case keyProcedure:
    case keyFunction: {
        const bool isFunc = F_CurToken->F_Keyword == keyFunction;
        if (F_CurFile->peekNextRealChar(true) == '*') handle_FUNCDECL(-1, false);
        else handle_PROCEDURE(isFunc);
        break;
    }
    case keyIf: handle_IF(); break;
    case keyRepeat: handle_REPEAT(); break;
    case keyWhile: handle_WHILE(); break;
    case keyContinue: handle_CONTINUE(); break;
    case keyBreak: handle_BREAK(); break;
    case keyBlock: handle_BLOCK(); break;
    case keyReturn: handle_RETURN(); break;
    case keyUses: handle_USES(); break;
    case keyInline: handle_INLINE(); break;
    case keyType: handle_TYPE(); break;
    case keyEnum: handle_ENUM(); break;
    case keyExports: handle_EXPORTS(); break;
    case keyEntry: handle_ENTRY(); break;
    case keyExitIf: handle_EXITIF(); break;
    default: Log->FatalError("[11000] Unexpected " + F_CurToken->getTokenStr());
    }
}

void TCompiler::defineLabel() {
    // A label between a prefix and its instruction would split the two.
    if (F_PendingPrefix) pendingPrefixRefused();
    const std::string name = F_CurToken->F_String;
    F_CurFile->commitPeekPosition();  // the ":"
    PFunction lbl = FuncMan->CreateFunction(ltLabel, F_CurFunc);
    tavAssign(lbl->Name, name);
    placeLabel(lbl, F_CurFunc);
    Idents->addIdent(itLabel, name, lbl);
}

void TCompiler::placeLabel(PFunction lbl, PFunction fn) {
    lbl->Type_ = ltLabel;
    lbl->Address = fn ? fn->BufLen : 0;
    lbl->Parent = fn;
    lbl->BufLen = 0;
    lbl->ParamCount = 0;
    lbl->ParamSize = 0;
    FuncMan->importAsNamed(lbl);
    FuncMan->dropHostInfo(lbl);
    // Code after a label is reached by jumps: a ret before it ends nothing.
    clearLastRet(fn);
}

PFunction TCompiler::addLabelRef(const std::string& name) {
    PFunction lbl = FuncMan->CreateFunction(ltRef, nullptr);
    tavAssign(lbl->Name, name);
    FuncMan->importAsNamed(lbl);
    TFunctionHostInfo& at = FuncMan->hostInfo(lbl);
    at.refFile = F_CurFile;
    at.refCharPos = F_CurFile ? F_CurFile->CurChar : 0;
    at.refLine = F_CurFile ? F_CurFile->CurLine : 0;
    at.refColumn = F_CurFile ? F_CurFile->CurLineChar : 0;
    Idents->addIdent(itLabel, name, lbl);
    return lbl;
}

bool TCompiler::lastWasRet(const TFunction* fn) const {
    return fn && fn->FuncIndex < F_LastRet.size() && F_LastRet[fn->FuncIndex];
}

void TCompiler::clearLastRet(const TFunction* fn) {
    if (fn && fn->FuncIndex < F_LastRet.size()) F_LastRet[fn->FuncIndex] = 0;
}

// ---- instructions ----

// Does an operand stand after the mnemonic just read? Only on the
// mnemonic's own line: without a ";" the next line begins the next
// statement, which may be a value or a register of its own.
bool TCompiler::operandFollows() {
    const uint32_t line = F_CurFile->CurLine;
    const TTavToken t = F_CurFile->peekNextToken();
    if (F_CurFile->F_LPLine != line) return false;
    switch (t) {
    case ttNumber:
    case ttFloat:
    case ttAnsiString:
    case ttWideString:
    case ttBaseExp:
    case ttSTreg:
    case ttXMMreg:
    case ttRegister:
    case ttSegment: return true;
    case ttSymbol: {
        const std::string& s = F_PeekToken->F_String;
        return s == "," || s == "@";
    }
    case ttIdent: return F_PeekToken->F_Keyword == keyNone;
    default: return false;
    }
}

void TCompiler::instructionLine() {
    const TWord* word = F_CurToken->F_Word ? F_CurToken->F_Word : words::find(F_CurToken->F_String);
    const PInstruction row = word ? word->mnemonic : nullptr;
    if (!row && wideRegisterIn16(F_CurToken->F_String))
        Log->FatalError("[9000] " + F_CurToken->F_String + " is a 32-bit register, which 16-bit code does not have");
    if (!row) Log->FatalError("[9000] Unexpected " + F_CurToken->getTokenStr());
    if (PInstruction prefix = F_PendingPrefix) {
        F_PendingPrefix = nullptr;
        prefixedInstruction(prefix, row);
        return;
    }
    if (row->maxpar == 0 && prefixedLine(row)) return;
    if (prefixOf(row->name) != Prefix::none && !operandFollows()) {
        // "rep;" and its instruction later: the same bytes as on one line.
        statementEnds(false);
        F_PendingPrefix = row;
        return;
    }
    encodeLine(row, nullptr);
}

void TCompiler::pendingPrefixRefused() const {
    Log->FatalError("[9996] " + std::string(F_PendingPrefix->name) + " must stand before its instruction");
}

void TCompiler::prefixedInstruction(PInstruction prefix, PInstruction row) {
    const Prefix kind = prefixOf(prefix->name);
    const bool fits = kind == Prefix::lock ? lockable(row->name) : takesPrefix(kind, row->name);
    if (!fits)
        Log->FatalError("[9996] " + std::string(prefix->name) + " cannot stand before " + std::string(row->name));
    encodeLine(row, prefix);
}

// A prefix followed on its line by an instruction: both are one line, the
// prefix byte placed as `as` places it. False when no instruction follows.
bool TCompiler::prefixedLine(PInstruction prefix) {
    const Prefix kind = prefixOf(prefix->name);
    if (kind == Prefix::none) return false;
    const uint32_t line = F_CurFile->CurLine;
    if (F_CurFile->peekNextToken() != ttIdent || F_CurFile->F_LPLine != line) return false;
    const TCurrentToken* pk = F_PeekToken;
    if (pk->F_Keyword != keyNone || pk->F_IdentType != itNone) return false;
    const TWord* word = pk->F_Word ? pk->F_Word : words::find(pk->F_String);
    const PInstruction row = word ? word->mnemonic : nullptr;
    if (!row) return false;
    F_CurFile->moveLastPeek();
    prefixedInstruction(prefix, row);
    return true;
}

// The instruction whose mnemonic was just read, with its operands, into
// the current function; after a prefix when there is one.
void TCompiler::encodeLine(PInstruction row, PInstruction prefix) {
    if (row->group == igRET) retTriggered(F_CurFunc);

    if (row->maxpar == 0) {
        // What stands after it on its statement would be dropped without a word.
        if (operandFollows()) {
            const std::string what = F_PeekToken->getTokenStr();
            F_CurFile->peekNextRealChar(true);
            F_CurFile->commitPeekPosition();  // the message points at the operand
            Log->FatalError("[9998] " + TTavAssembler::errorCodeToString(asmTooManyParams) + " " + what);
        }
        statementEnds(false);
        emitInstruction(F_CurFunc, row, "[9998] ", nullptr, nullptr, nullptr, prefix, FixMan->Count(F_CurFunc));
        return;
    }

    const bool lblRef = row->group == igCALL || row->group == igGOTO;
    std::unique_ptr<TOperand> op1(moveNextOperand(true, lblRef)), op2, op3;
    if (takeSymbol(',')) {
        op2.reset(moveNextOperand(true, false));
        if (takeSymbol(',')) op3.reset(moveNextOperand(true, false));
    }
    const TOperand* last = op3 ? op3.get() : op2 ? op2.get() : op1.get();
    if (last->hint == otSegment && F_CurFile->peekNextRealChar(true) == ':')
        Log->FatalError("[9995] No segment override: memory operands use their default segment", true,
                        F_CurFile->F_LPCurChar, F_CurFile->F_LPLine, F_CurFile->F_LPCurLineChar - 1);
    statementEnds((op3 ? 3 : op2 ? 2 : 1) < row->maxpar);
    if (prefix) {
        // One instruction on memory: a register is no shared place, and a
        // wider value takes two instructions, of which lock covers one.
        const bool memory = op1->hint == otMem || op1->hint == otVar;
        if (!memory) Log->FatalError("[9996] lock needs a memory destination");
        if (op1->size > 4) Log->FatalError("[9996] lock takes a destination of at most a dword");
    }
    const uint32_t fixups = FixMan->Count(F_CurFunc);
    // "call fp" of a function declared with "*" goes through its pointer
    // variable, and the callee removes the parameters pushed for it.
    PFunction viaPointer = nullptr;
    if (row->group == igCALL && op1 && op1->hint == otLabel && !op2) {
        PFunction f = FuncMan->getFunc(static_cast<uint32_t>(op1->value));
        if (f && f->CallData && F_CurFunc) {
            viaPointer = f;
            callOperand(F_CurFunc, f, *op1);
            F_CountedCall = f;
        }
    }
    emitInstruction(F_CurFunc, row, "[9999] ", op1.get(), op2.get(), op3.get(), prefix, fixups);
    if (viaPointer && !CompileFlags.peek_mode) F_CurFunc->LocalOffset -= viaPointer->ParamSize;
}

// After the operands of a statement only ";", "}", a directive, a comment
// or a later line may follow: anything else on the line would be lost.
void TCompiler::statementEnds(bool moreOperands) {
    TAFile* f = F_CurFile;
    const uint32_t line = f->CurLine;
    const char c = f->peekNextRealChar(true);
    // A "," past the last operand is left to the statement loop, which
    // refuses it as a statement ("[9900]").
    if (c == 0 || c == ';' || c == '}' || c == ',' || f->F_LPLine != line) return;
    const uint32_t at = f->F_LPCurChar, column = f->F_LPCurLineChar - 1;
    if (c == '#' || c == '$') {
        // A directive as the statement loop takes it: a word after the sign.
        uint32_t p = at + 1;
        while (f->charAt(p) == ' ' || f->charAt(p) == '\t') ++p;
        if (ascii::isNameStart(f->charAt(p))) return;
    }
    const std::string what = f->peekNextToken() == ttNone ? std::string(1, c) : F_PeekToken->getTokenStr();
    Log->FatalError(std::string("[9997] Expected ") + (moreOperands ? ", or ;" : ";") + " before " + what, true, at,
                    line, column);
}

// The prefix byte goes before the opcode, after the size prefixes 66 and
// 67 of the bytes just encoded; the fixups of those bytes move with them.
void TCompiler::insertPrefix(PInstruction prefix, uint32_t fixupsBefore) {
    std::string bytes(F_Assembler.code());
    size_t at = 0;
    while (at < bytes.size() && (bytes[at] == '\x66' || bytes[at] == '\x67')) ++at;
    bytes.insert(at, 1, static_cast<char>(TTavAssembler::B(prefix->opcode1, 1)));
    for (uint32_t i = fixupsBefore; i < FixMan->Count(F_CurFunc); ++i) ++FixMan->getFixup(F_CurFunc, i)->position;
    F_Assembler.dropCode();
    F_Assembler.addBytes(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<uint32_t>(bytes.size()));
}

bool TCompiler::takeSymbol(char c) {
    // The peek has found it: the cursor moves there and the token is the one
    // the tokenizer would have made of it.
    if (F_CurFile->peekNextRealChar(true) != c) return false;
    F_CurFile->commitPeekPosition();
    F_CurToken->setSymbol(c);
    return true;
}

void TCompiler::emitInstruction(PFunction fn, PInstruction row, const char* fault, POperand op1, POperand op2,
                                POperand op3, PInstruction prefix, uint32_t fixupsBefore) {
    const uint32_t code = F_Assembler.assemble(row, op1, op2, op3);
    if (code != asmOK) {
        F_Assembler.dropCode();
        Log->FatalError(fault + TTavAssembler::errorCodeToString(code));
    }
    trackPushDepth(fn, row, op1, op2);
    if (prefix) insertPrefix(prefix, fixupsBefore);
    appendInstruction(fn, row);
}

void TCompiler::appendInstruction(PFunction fn, PInstruction row) {
    const std::string_view code = F_Assembler.code();
    const bool none = code.empty() || CompileFlags.peek_mode || !fn;
    if (!none) {
        // The assembler's own bytes: 16 of them are there to read.
        if (code.size() <= 16 && code.data() == F_Assembler.inlineBytes()) {
            tavAppendShort(fn->Buffer, code.data(), code.size());
            fn->BufLen = tavBlockCount(fn->Buffer);
        } else {
            appendCode(fn, code.data(), static_cast<int32_t>(code.size()));
        }
    }
    F_Assembler.dropCode();
    if (none) return;  // nothing emitted: the mark stays
    if (fn->FuncIndex >= F_LastRet.size()) F_LastRet.resize(size_t(fn->FuncIndex) + 1, 0);
    F_LastRet[fn->FuncIndex] = row->group == igRET ? 1 : 0;
}

namespace {

bool isStackRegister(TRegister r) { return r == REG_SP || r == REG_ESP || r == REG_RSP; }
bool isStackPointer(const TOperand* op) { return op && op->hint == otRegister && isStackRegister(op->reg_base); }

// The change of the push depth by an instruction whose first operand is the
// stack pointer, when the instruction states it: false when it cannot be known.
bool knownStackChange(PInstruction row, const TOperand* op2, int64_t& change) {
    if (row->group == igALU && op2 && op2->hint == otImm) {
        if (row->name == "sub") return change = op2->value, true;
        if (row->name == "add") return change = -op2->value, true;
        return false;
    }
    if (row->group == igLEA && op2 && op2->hint == otMem && op2->reg_count == 1 && op2->scale <= 1 &&
        isStackRegister(op2->reg_base))
        return change = -int64_t(op2->displacement), true;
    if (row->group == igINCDEC) return change = row->name == "dec" ? 1 : -1, true;
    return false;
}

// Instructions that leave their first operand as it was.
bool readsOnly(PInstruction row) {
    switch (row->group) {
    case igTEST:
    case igCALL:
    case igGOTO:
    case igRET:
    case igPUSH: return true;
    case igALU: return row->name == "cmp";
    case igBT: return row->name == "bt";
    default: return false;
    }
}

}  // namespace

void TCompiler::trackPushDepth(PFunction fn, PInstruction row, const TOperand* op1, const TOperand* op2) {
    const TFunction* counted = F_CountedCall;
    F_CountedCall = nullptr;
    if (!fn || CompileFlags.peek_mode) return;
    // Unsigned wrap-around keeps the depth exact even below the body's start.
    const bool stackFirst = isStackPointer(op1) && !readsOnly(row);
    if (stackFirst || (row->group == igXCHG && isStackPointer(op2)) || row->name == "leave") {
        int64_t change = 0;
        if (stackFirst && regSize(op1->reg_base) == ptrSize && knownStackChange(row, op2, change)) {
            // Right after a call of a DLL's function, the bytes of its
            // parameters given back may be the arguments that a function
            // of the C convention left: which it is is not known.
            const TFunctionHostInfo& at = FuncMan->hostInfo(fn);
            if (change < 0 && fn->BufLen == at.foreignCallEnd && -change == int64_t(at.foreignCallParams)) {
                loseDepth(fn, row, op1);
                return;
            }
            fn->LocalOffset += static_cast<uint32_t>(change);
            return;
        }
        loseDepth(fn, row, op1);
        return;
    }
    switch (row->group) {
    case igPUSH:
        if (op1) fn->LocalOffset += stackBytes(op1);
        break;
    case igPOP:
        if (op1) fn->LocalOffset -= stackBytes(op1);
        break;
    case igEMIT:
        // The pushes and pops of all registers or of the flags: their size
        // is the instruction's own, whatever the bit mode.
        for (const auto& [name, bytes] : kStackEmits)
            if (row->name == name) fn->LocalOffset += static_cast<uint32_t>(bytes);
        break;
    case igCALL: {
        // A called procedure of ours removes its own parameters, and so does
        // one called through its pointer variable (counted by the caller);
        // what a call through other memory removes is not known.
        const TFunction* foreign = counted;
        if (op1 && op1->hint == otLabel && op1->ptr) {
            const TFunction* callee = FuncMan->getFunc(static_cast<uint32_t>(op1->value));
            if (callee) fn->LocalOffset -= callee->ParamSize;
            if (callee && callee->DLLIndex != -1) foreign = callee;
        } else if (op1 && op1->hint != otLabel && !counted) {
            loseDepth(fn, row, op1);
        }
        if (foreign && foreign->ParamSize != 0) {
            TFunctionHostInfo& at = FuncMan->hostInfo(fn);
            at.foreignCallEnd = fn->BufLen + static_cast<uint32_t>(F_Assembler.code().size());
            at.foreignCallParams = foreign->ParamSize;
        }
        break;
    }
    default: break;
    }
}

void TCompiler::loseDepth(PFunction fn, PInstruction row, const TOperand* op1) {
    TFunctionHostInfo& at = FuncMan->hostInfo(fn);
    if (at.lostDepthLine != 0 || !F_CurFile) return;
    at.lostDepthFile = F_CurFile;
    at.lostDepthLine = F_CurFile->CurLine ? F_CurFile->CurLine : 1;
    at.lostDepthColumn = F_CurFile->CurLineChar;
    at.lostDepthWhat = std::string(row->name);
    if (op1 && op1->hint == otRegister) at.lostDepthWhat += " " + regToStr(op1->reg_base);
}

uint32_t TCompiler::stackDepth(const TFunction* fn) const {
    if (!fn) return 0;
    const TFunctionHostInfo& at = FuncMan->hostInfo(fn);
    if (at.lostDepthLine != 0) {
        const std::string where =
            (at.lostDepthFile ? "[" + std::to_string(at.lostDepthLine) + "," + std::to_string(at.lostDepthColumn) + "]"
                              : std::string());
        Log->FatalError("[6394] The stack pointer of " + std::string(funcName(fn)) +
                        " changed by an amount not known (" + at.lostDepthWhat + " at " + where +
                        "): its parameters cannot be reached through it; use the frame (#set frame 1)");
    }
    return fn->LocalOffset;
}

void TCompiler::releasePushes(PFunction func) {
    if (!func || func->FuncIndex == 0 || CompileFlags.peek_mode) return;
    if (FuncMan->hostInfo(func).lostDepthLine != 0) return;
    // With the frame and no uses, leave alone restores the stack pointer.
    if (CompileFlags.stackframe_on && func->UsesList->items.empty()) return;
    // The saved frame pointer and the registers of uses lie below.
    const uint32_t saved =
        (static_cast<uint32_t>(func->UsesList->items.size()) + (CompileFlags.stackframe_on ? 1 : 0)) * ptrSize;
    const int32_t left = static_cast<int32_t>(func->LocalOffset - saved);
    if (left <= 0) return;
    // lea keeps the flags, as leave does; 16-bit code has no lea.
    TOperand sp, by;
    sp.setRegister(stackRegister());
    if (ptrSize == 4) {
        by.setMemory(4, left, 0, {REG_ESP});
        execInstruction(func, "lea", &sp, &by);
    } else {
        by.setImm(left, ptrSize);
        execInstruction(func, "add", &sp, &by);
    }
    // The code after this exit still has the pushes.
    func->LocalOffset += static_cast<uint32_t>(left);
}

void TCompiler::retTriggered(PFunction func) {
    if (!func) return;
    // The epilogue belongs to this one exit: code after it keeps its depth.
    const uint32_t depth = func->LocalOffset;
    TOperand reg;
    const std::vector<std::string>& uses = func->UsesList->items;
    for (auto it = uses.rbegin(); it != uses.rend(); ++it) {
        const TRegister r = strToReg(*it);
        if (r == REG_NONE) throw EInternalError("Saved register " + *it + " is no register");
        reg.setRegister(r);
        execInstruction(func, "pop", &reg);
    }
    if (func->LocalSize != 0) {
        // The same aligned size that the prologue reserves.
        TOperand esp, imm;
        esp.setRegister(stackRegister());
        imm.setImm(static_cast<int32_t>((func->LocalSize + 3u) & ~3u), ptrSize);
        execInstruction(func, "add", &esp, &imm);
    }
    if (CompileFlags.stackframe_on && func->FuncIndex != 0) {
        appendCode(func, "\xC9");
        clearLastRet(func);
    }
    func->LocalOffset = depth;
}

uint32_t TCompiler::execInstruction(PFunction fn, const std::string& strName, POperand op1, POperand op2,
                                    POperand op3) {
    const PInstruction row = TTavAssembler::opcodeLookup(strName);
    if (!row) throw EInternalError("Instruction " + strName + " does not exist");
    if (row->group == igRET) retTriggered(fn);
    emitInstruction(fn, row, "[124412] ", op1, op2, op3);
    return 0;
}

std::string TCompiler::buildInstruction(PFunction fn, const std::string& strName, POperand op1, POperand op2,
                                        POperand op3) {
    const PInstruction row = TTavAssembler::opcodeLookup(strName);
    if (!row) return std::string();
    if (row->group == igRET) retTriggered(fn);
    const uint32_t code = F_Assembler.assemble(row, op1, op2, op3);
    if (code != asmOK) {
        F_Assembler.dropCode();
        return std::string();
    }
    trackPushDepth(fn, row, op1, op2);
    return F_Assembler.popCode();
}

// ---- one-token checks ----

bool TCompiler::ExpectSymbol(std::string_view expected) {
    return F_CurFile->moveNextToken() == ttSymbol && F_CurToken->F_String == expected;
}

TTavToken TCompiler::ExpectToken(std::initializer_list<TTavToken> kinds) {
    TTavToken t = F_CurFile->moveNextToken();
    return std::find(kinds.begin(), kinds.end(), t) != kinds.end() ? t : ttNone;
}

TIdentType TCompiler::ExpectIdentType(std::initializer_list<TIdentType> kinds) {
    if (F_CurFile->moveNextToken() != ttIdent) return itNone;
    TIdentType it = F_CurToken->F_IdentType;
    return std::find(kinds.begin(), kinds.end(), it) != kinds.end() ? it : itNone;
}

bool TCompiler::ExpectFreeIdent() { return F_CurFile->moveNextToken() == ttIdent && F_CurToken->F_IdentType == itNone; }

TKeyword TCompiler::ExpectKeyword(std::initializer_list<TKeyword> keys) {
    if (F_CurFile->moveNextToken() != ttIdent) return keyNone;
    TKeyword k = F_CurToken->F_Keyword;
    return std::find(keys.begin(), keys.end(), k) != keys.end() ? k : keyNone;
}
