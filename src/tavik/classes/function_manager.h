#pragma once
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <type_traits>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "classes/record_arena.h"
#include "tavik/plugin_api.h"

class TAFile;

// The host lists behind the shared records' list fields.
// The fixup records of one function, in order of addition, in room that
// never moves.
class TFixupStore {
public:
    size_t size() const { return room_.size(); }
    bool empty() const { return room_.size() == 0; }
    PFixup operator[](size_t i) const { return room_[i]; }
    // A zeroed record at the end.
    PFixup add() { return new (room_.extend()) TFixup{}; }

    class iterator {
    public:
        iterator(const TFixupStore* s, size_t i) : s_(s), i_(i) {}
        PFixup operator*() const { return (*s_)[i_]; }
        iterator& operator++() {
            ++i_;
            return *this;
        }
        bool operator==(const iterator& o) const { return i_ == o.i_; }

    private:
        const TFixupStore* s_;
        size_t i_;
    };
    iterator begin() const { return {this, 0}; }
    iterator end() const { return {this, size()}; }

private:
    static_assert(std::is_trivially_destructible_v<TFixup>, "the room ends without ending its records");
    TChunkRoom<TFixup, 2> room_;  // most functions have few
};

struct TFixupList {
    TFixupStore items;  // owned by the function
};
struct TTextList {
    std::vector<std::string> items;
};
struct TFuncList {
    std::vector<PFunction> items;  // not owned
};

// Host-only state of a function record, kept beside it (never in the shared
// record): where a forward reference was first used; for a procedure, the
// identifier scope of its parameters and body.
struct TFunctionHostInfo {
    const TAFile* refFile = nullptr;
    uint32_t refCharPos = 0;  // 1-based byte position
    uint32_t refLine = 0;
    uint32_t refColumn = 0;
    uint32_t bodyScope = 0;
    // Where the stack pointer first changed by an amount the push depth
    // cannot follow (line 0: it never did).
    const TAFile* lostDepthFile = nullptr;
    uint32_t lostDepthLine = 0;
    uint32_t lostDepthColumn = 0;
    std::string lostDepthWhat;  // the instruction, as "mov esp"
    // The end of the last call of an imported function or one through a
    // pointer, and the bytes of its parameters.
    uint32_t foreignCallEnd = UINT32_MAX;
    uint32_t foreignCallParams = 0;
};

// Every function, procedure, label and forward reference; index 0 is rtlmain.
class TFunctionManager {
public:
    TFunctionManager() = default;
    ~TFunctionManager();
    TFunctionManager(const TFunctionManager&) = delete;
    TFunctionManager& operator=(const TFunctionManager&) = delete;

    PFunction CreateFunction(TLabelType lType, PFunction parent);
    PFunction getFunc(uint32_t index) const;  // nil when index >= count
    uint32_t Count() const { return static_cast<uint32_t>(F_List.size()); }
    static std::string Convention2String(TCallingConvention key);

    // True for a record this manager made and still holds; f is never read.
    bool holds(const TFunction* f) const { return f && F_Records.contains(f); }

    // Host-only state of a record of this manager, kept only for the records
    // that have some; dropHostInfo returns it to all zero.
    TFunctionHostInfo& hostInfo(const TFunction* f);
    void dropHostInfo(const TFunction* f);

    // A record starts with shared empty lists, never written; before the
    // first addition to a list of f, f gets lists of its own (a record of
    // another owner is left as it is).
    void ownLists(PFunction f);

    // Texts that many records carry alike (the names of statement labels):
    // one block per text, held by the manager. A field holding one is set
    // again only through shareText or assignText, never in place.
    void shareText(TAVSTR& field, std::string_view s);
    // tavAssign for a field that may hold a shared text.
    void assignText(TAVSTR& field, std::string_view s);
    bool isShared(const char* s) const { return s && F_SharedSet.count(s) != 0; }
    // The entry name becomes the name's own block (a label's): the name of
    // such a record is not set again.
    void importAsNamed(PFunction f);

    std::vector<PFunction> F_List;
    uint32_t ExportedCount = 0;  // functions marked exported

private:
    struct TLists {
        TFixupList fixups;
        TTextList uses;
        TFuncList depends;
    };
    TRecordArena<TFunction> F_Records;
    std::deque<TFunctionHostInfo> F_HostInfo;  // by FuncIndex; grows at the end, references stay valid
    TRecordArena<TLists> F_Lists;
    TLists F_NoLists;
    std::map<std::string, TAVSTR, std::less<>> F_Shared;
    std::unordered_set<const char*> F_SharedSet;
};

// TFunction operations. Code appends and addParam do nothing while
// CompileFlags.peek_mode is set.
void appendCode(PFunction f, const std::string& str);
void appendCode(PFunction f, const void* bytes, int32_t len);
void appendCode(PFunction f, const uint8_t* bytes, int32_t len);
// Adds a parameter in a stack slot of its size rounded up to ptrSize; with
// addVar a local variable at the new ParamSize. Returns the new ParamCount.
uint32_t addParam(PFunction f, PVarType parType, const std::string& parName, bool addVar);
// Reachability: marks f (and what it depends on) when from is nil or marked,
// else records f as a dependency of from.
void setCalled(PFunction f, PFunction from);

// Texts of a record.
inline const char* funcName(const TFunction* f) { return f->Name ? f->Name : ""; }
