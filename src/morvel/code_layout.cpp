// The code block: every reachable function with code gets its offset, then
// one pass over the fixups fills or removes the locals placeholders and turns
// each jump placeholder into a short or near jump, moving what follows down.
//
// Each removal moves the later functions, the labels behind it in the same
// function and that function's later fixups. Instead of walking every record
// per removal, later functions carry one running count of removed bytes, a
// function's own labels and fixups are moved once, when the function is done,
// by the bytes removed before them, and its code is closed up in one sweep
// with a single removal at its end. That gives the same addresses as
// moving everything at every removal as long as no label or fixup sits inside
// a placeholder and the placeholders come in code order without overlapping;
// a function that breaks this is laid out by moving its records at every
// removal instead.
#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "host.h"
#include "layout.h"

namespace morvel {
namespace {

constexpr uint32_t kJmpPlaceholder = 7;
constexpr uint32_t kLocalsPlaceholder = 6;

class CodeLayout {
public:
    explicit CodeLayout(uint32_t wordSize) : word_(wordSize) {}
    uint32_t run();

private:
    struct Removal {
        uint32_t at;     // original offset where the placeholder starts
        uint32_t total;  // bytes removed in the function up to and including this one
        uint32_t cut;    // original offset of the bytes it cuts
    };

    std::vector<PFunction> funcs_;
    // Index of a record by address, made only for a record whose FuncIndex
    // does not lead back to it.
    mutable std::unordered_map<PFunction, uint32_t> indexOf_;
    mutable bool indexMade_ = false;
    // Marked labels by parent: those of parent p are labels_[labelsAt_[p]]
    // up to labels_[labelsAt_[p + 1]], in list order.
    std::vector<uint32_t> labelsAt_;
    std::vector<uint32_t> labels_;
    // Of each record, for a marked label its parent's index and its address,
    // kept along with the record's: a jump reads them here rather than from
    // the target's record. Other records have parent none_.
    struct Mark {
        uint32_t parent;
        uint32_t address;
    };
    std::vector<Mark> marks_;
    uint32_t none_ = 0;
    uint32_t fnIndex_ = 0;
    // Marked, not labels, no code, by their address before the layout. Such
    // a record moves down with every removal in a function laid out below it;
    // as the functions come in address order, it stops moving at the first
    // removal that is not below it, so one sweep in address order settles
    // each one. Until then its address is the old one less removed_.
    std::vector<uint32_t> codeless_;
    size_t codelessNext_ = 0;
    std::vector<uint8_t> moving_;   // codeless, not settled yet
    std::vector<uint8_t> pending_;  // laid out, Address still lacks removed_
    uint32_t word_;                 // bytes of a near jump's or the locals' value
    uint32_t removed_ = 0;          // bytes removed in all functions so far
    uint32_t size_ = 0;

    // The function being laid out.
    PFunction fn_ = nullptr;
    bool direct_ = false;  // records moved at every removal
    // In code order (deferred moving only); the buffer is closed up once at
    // the end of the function rather than at every removal.
    std::vector<Removal> removals_;
    mutable size_t removedHint_ = 0;   // the removal removedBefore found last
    uint32_t currentPlaceholder_ = 0;  // where the placeholder being rewritten starts now
    uint32_t removedHere_ = 0;
    // The fixups of the function, settled ones marked, and the placeholders
    // that lose bytes; kept across functions. With the moving deferred, a
    // fixup's position stays the one before the layout until it is rewritten.
    uint32_t fixupCount_ = 0;
    std::vector<PFixup> fixups_;  // the function's fixups, asked for once
    PFixup fixup(uint32_t k) const { return fixups_[k]; }
    std::vector<uint8_t> settled_;
    std::vector<std::pair<uint32_t, uint32_t>> spans_;

    bool indexOf(PFunction f, uint32_t& index) const;
    struct Labels {
        const uint32_t* b;
        const uint32_t* e;
        const uint32_t* begin() const { return b; }
        const uint32_t* end() const { return e; }
    };
    Labels labelsOf(uint32_t index) const {
        return {labels_.data() + labelsAt_[index], labels_.data() + labelsAt_[index + 1]};
    }

    void layoutFunction(uint32_t index);
    bool placeholdersInOrder(uint32_t index);
    uint32_t removedBefore(uint32_t offset) const;
    uint32_t currentAddress(uint32_t index) const;
    uint32_t currentAddress(PFunction f) const;
    uint32_t currentPosition(PFixup fx, uint32_t original) const;
    void remove(uint32_t index, uint32_t original, uint32_t at, uint32_t cutOffset, uint32_t count);
    void settleCodeless();
    void compact();
    uint8_t* code() const { return reinterpret_cast<uint8_t*>(fn_->Buffer); }
};

uint32_t CodeLayout::run() {
    uint32_t n = host.Func_Count();
    funcs_.resize(n);
    pending_.assign(n, 0);
    moving_.assign(n, 0);
    for (uint32_t i = 0; i < n; ++i) funcs_[i] = host.Func_Get(i);
    // parent of each marked label, n for none
    none_ = n;
    marks_.assign(n, Mark{n, 0});
    labelsAt_.assign(n + 2, 0);
    std::vector<uint32_t> reachable;
    for (uint32_t i = 0; i < n; ++i) {
        PFunction f = funcs_[i];
        if (isReachable(f)) reachable.push_back(i);
        if (hasCode(f)) {
            f->Address = size_;
            size_ += f->BufLen;
            pending_[i] = 1;
        } else if (isReachable(f)) {
            codeless_.push_back(i);
            moving_[i] = 1;
        } else if (isLabel(f) && f->IsCalled && f->Parent) {
            uint32_t p;
            if (indexOf(f->Parent, p)) {
                marks_[i] = Mark{p, f->Address};
                ++labelsAt_[p + 2];
            }
        }
    }
    for (uint32_t p = 0; p < n; ++p) labelsAt_[p + 2] += labelsAt_[p + 1];
    labels_.resize(labelsAt_[n + 1]);
    for (uint32_t i = 0; i < n; ++i)
        if (marks_[i].parent != n) labels_[labelsAt_[marks_[i].parent + 1]++] = i;
    std::stable_sort(codeless_.begin(), codeless_.end(),
                     [&](uint32_t a, uint32_t b) { return funcs_[a]->Address < funcs_[b]->Address; });
    // the layout changes no record's marking or kind
    for (uint32_t i : reachable) layoutFunction(i);
    for (uint32_t i = 0; i < n; ++i)
        if (pending_[i] || moving_[i]) funcs_[i]->Address -= removed_;
    return size_;
}

bool CodeLayout::indexOf(PFunction f, uint32_t& index) const {
    if (f->FuncIndex < funcs_.size() && funcs_[f->FuncIndex] == f) {
        index = f->FuncIndex;
        return true;
    }
    if (!indexMade_) {
        for (uint32_t i = 0; i < funcs_.size(); ++i) indexOf_.emplace(funcs_[i], i);
        indexMade_ = true;
    }
    auto it = indexOf_.find(f);
    if (it == indexOf_.end()) return false;
    index = it->second;
    return true;
}

uint32_t CodeLayout::removedBefore(uint32_t offset) const {
    // The last removal before offset: none, all of them (a forward target),
    // the one found before or the next, one of the last few, else a search.
    const size_t n = removals_.size();
    if (n == 0 || removals_[0].at >= offset) return 0;
    if (removals_[n - 1].at < offset) return removals_[n - 1].total;
    auto at = [&](size_t i) { return removals_[i].at < offset && removals_[i + 1].at >= offset; };
    size_t i;
    if (removedHint_ + 1 < n && at(removedHint_)) {
        i = removedHint_;
    } else if (removedHint_ + 10 < n && removals_[removedHint_].at < offset &&
               removals_[removedHint_ + 10].at >= offset) {
        // a little ahead of the one found before
        i = removedHint_ + 1;
        while (!at(i)) ++i;
    } else if (n >= 10 && removals_[n - 10].at < offset) {
        // a short jump back
        i = n - 2;
        while (!at(i)) --i;
    } else {
        i = size_t(std::lower_bound(removals_.begin(), removals_.end(), offset,
                                    [](const Removal& r, uint32_t v) { return r.at < v; }) -
                   removals_.begin()) -
            1;
    }
    removedHint_ = i;
    return removals_[i].total;
}

uint32_t CodeLayout::currentAddress(uint32_t index) const {
    const Mark m = marks_[index];
    if (m.parent != none_) return m.parent == fnIndex_ && !direct_ ? m.address - removedBefore(m.address) : m.address;
    PFunction f = funcs_[index];
    return pending_[index] || moving_[index] ? f->Address - removed_ : f->Address;
}

uint32_t CodeLayout::currentAddress(PFunction f) const {
    uint32_t index;
    return indexOf(f, index) ? currentAddress(index) : f->Address;
}

uint32_t CodeLayout::currentPosition(PFixup fx, uint32_t original) const {
    return direct_ ? fx->position : original - removedBefore(original);
}

bool CodeLayout::placeholdersInOrder(uint32_t index) {
    // The placeholders that lose bytes, in list order, must be in code order
    // and apart; no other fixup and no label of the function may sit inside.
    std::vector<std::pair<uint32_t, uint32_t>>& spans = spans_;
    spans.clear();
    for (uint32_t k = 0; k < fixupCount_; ++k) {
        PFixup fx = fixup(k);
        uint32_t len = fx->hint == ftJmp ? kJmpPlaceholder
                       : (fx->hint == ftLocals && (fn_->LocalCount == 0 || nearJumpWidth(fx, word_) == 2))
                           ? kLocalsPlaceholder
                           : 0;
        if (!len) continue;
        if (!spans.empty() && uint64_t(spans.back().first) + spans.back().second > fx->position) return false;
        spans.emplace_back(fx->position, len);
    }
    // The last span starting at or before v; the one found before, or the
    // next, is tried first, as the values mostly come in code order.
    size_t hint = 0;
    auto inside = [&](uint32_t v) {
        const size_t n = spans.size();
        if (n == 0 || v < spans[0].first) return false;
        auto at = [&](size_t i) { return spans[i].first <= v && (i + 1 == n || spans[i + 1].first > v); };
        size_t i;
        if (at(hint)) i = hint;
        else if (hint + 1 < n && at(hint + 1)) i = hint + 1;
        else
            i = size_t(
                    std::upper_bound(spans.begin(), spans.end(), v,
                                     [](uint32_t x, const std::pair<uint32_t, uint32_t>& s) { return x < s.first; }) -
                    spans.begin()) -
                1;
        hint = i;
        return v > spans[i].first && uint64_t(v) < uint64_t(spans[i].first) + spans[i].second;
    };
    for (uint32_t k = 0; k < fixupCount_; ++k)
        if (inside(fixup(k)->position)) return false;
    for (uint32_t li : labelsOf(index))
        if (inside(marks_[li].address)) return false;
    // one removal for each of them
    removals_.reserve(spans.size());
    if (spans.capacity() > 4096) std::vector<std::pair<uint32_t, uint32_t>>().swap(spans);
    return true;
}

void CodeLayout::remove(uint32_t index, uint32_t original, uint32_t at, uint32_t cutOffset, uint32_t count) {
    if (direct_) {
        uint32_t before = fn_->BufLen;
        host.func_rem(fn_, currentPlaceholder_ + cutOffset + 1, count);
        if (fn_->BufLen != before - count) fatal("Code of " + funcName(fn_) + " could not be shortened");
    }
    settleCodeless();
    size_ -= count;
    removed_ += count;
    removedHere_ += count;
    if (direct_) {
        for (uint32_t li : labelsOf(index))
            if (marks_[li].address > at) funcs_[li]->Address = marks_[li].address -= count;
        for (uint32_t k = 0; k < fixupCount_; ++k) {
            PFixup other = fixup(k);
            if (other->position > at) other->position -= count;
        }
    } else {
        removals_.push_back({original, removedHere_, original + cutOffset});
    }
}

// Before a removal in fn_: the codeless records not above fn_ stop moving.
// One whose address went below zero has wrapped around and stays above
// everything, so it keeps moving to the end.
void CodeLayout::settleCodeless() {
    const uint64_t limit = uint64_t(fn_->Address) + removed_;
    for (; codelessNext_ < codeless_.size(); ++codelessNext_) {
        PFunction f = funcs_[codeless_[codelessNext_]];
        if (f->Address > limit) break;
        if (f->Address >= removed_) {
            f->Address -= removed_;
            moving_[codeless_[codelessNext_]] = 0;
        }
    }
}

void CodeLayout::compact() {
    if (removals_.empty()) return;
    uint8_t* b = code();
    uint32_t len = fn_->BufLen;
    uint32_t w = removals_[0].cut, r = w;
    for (size_t i = 0; i < removals_.size(); ++i) {
        uint32_t keep = removals_[i].cut - r;
        std::memmove(b + w, b + r, keep);
        w += keep;
        r = removals_[i].cut + removals_[i].total - (i ? removals_[i - 1].total : 0);
    }
    std::memmove(b + w, b + r, len - r);
    w += len - r;
    host.func_rem(fn_, w + 1, len - w);
    if (fn_->BufLen != w) fatal("Code of " + funcName(fn_) + " could not be shortened");
}

void CodeLayout::layoutFunction(uint32_t index) {
    fn_ = funcs_[index];
    fnIndex_ = index;
    if (pending_[index]) {
        fn_->Address -= removed_;
        pending_[index] = 0;
    }
    removals_.clear();
    removedHint_ = 0;
    removedHere_ = 0;

    uint32_t count = host.Fixup_Count(fn_);
    fixupCount_ = count;
    fixups_.resize(count);
    for (uint32_t k = 0; k < count; ++k) fixups_[k] = host.Fixup_Get(fn_, k);
    direct_ = !placeholdersInOrder(index);
    std::vector<uint8_t>& settled = settled_;
    settled.assign(count, 0);

    for (uint32_t k = 0; k < count; ++k) {
        PFixup fx = fixup(k);
        if (fx->hint != ftLocals && fx->hint != ftJmp) continue;
        // Where the placeholder is now, and where its bytes are in the buffer
        // (not yet closed up when the moving is deferred).
        const uint32_t original = fx->position;
        uint32_t pos = currentPosition(fx, original);
        uint32_t inBuffer = direct_ ? pos : original;
        uint32_t need = fx->hint == ftJmp ? kJmpPlaceholder : kLocalsPlaceholder;
        if (uint64_t(inBuffer) + need > fn_->BufLen) fatal("Placeholder outside the code of " + funcName(fn_));
        currentPlaceholder_ = pos;
        uint8_t* c = code() + inBuffer;
        if (fx->hint == ftLocals) {
            if (fn_->LocalCount > 0) {
                // sub esp, imm32 or sub sp, imm16: the form of the code the
                // procedure sits in, which need not be the build's.
                const uint32_t w = nearJumpWidth(fx, word_);
                uint32_t frame = alignUp(fn_->LocalSize, 4);
                c[0] = 0x81;
                c[1] = 0xEC;
                for (uint32_t b = 0; b < w; ++b) c[2 + b] = uint8_t(frame >> (8 * b));
                if (w == 2) {
                    // sub sp, imm16: the last two bytes go
                    if (frame > 0xFFFF) fatal("Locals of " + funcName(fn_) + " exceed 64 KB");
                    fx->position = pos;
                    settled[k] = 1;
                    remove(index, original, pos, 4, 2);
                }
            } else {
                fx->position = pos;
                settled[k] = 1;
                remove(index, original, pos, 0, kLocalsPlaceholder);
            }
            continue;
        }
        uint32_t cc = fx->jmp;
        if (cc > 16 && cc != jtJECXZ) fatal("Unknown jump condition in " + funcName(fn_));
        PFunction target = fx->index < funcs_.size() ? funcs_[fx->index] : nullptr;
        if (!target) fatal("Jump target of " + funcName(fn_) + " does not exist");
        uint32_t t = currentAddress(fx->index);
        if (const uint32_t p = marks_[fx->index].parent; p != none_) t += currentAddress(p);
        else if (target->Parent) t += currentAddress(target->Parent);
        int32_t d = int32_t(t - (fn_->Address + pos + 1));
        bool near = int64_t(d) - 2 < -128 || int64_t(d) + 2 > 127;
        uint32_t at = pos, cutOffset, cut;
        if (near) {
            if (cc == jtJECXZ) fatal("Target of jecxz out of range in " + funcName(fn_));
            fx->hint = ftJmpFar;
            const uint32_t w = nearJumpWidth(fx, word_);
            if (cc == 16) {
                c[0] = 0xE9;  // e9 rel32 (rel16)
                cutOffset = 1;
                cut = 6 - w;
            } else {
                c[0] = 0x0F;  // 0f 8x rel32 (rel16); the fixup moves to the 8x byte
                c[1] = uint8_t(0x80 + cc);
                cutOffset = 2;
                cut = 5 - w;
                at = pos + 1;
            }
        } else {
            fx->hint = ftJmpShort;
            c[0] = cc == 16 ? 0xEB : uint8_t(0x70 + cc);
            cutOffset = 2;
            cut = 5;
        }
        fx->position = at;
        settled[k] = 1;
        remove(index, original, at, cutOffset, cut);
    }

    if (!direct_) {
        compact();
        for (uint32_t k = 0; k < count; ++k)
            if (!settled[k]) fixup(k)->position -= removedBefore(fixup(k)->position);
        // Labels are made where first named, so that the list mostly runs
        // through two rising sequences of addresses, each with its own hint.
        const size_t n = removals_.size();
        size_t other = 0;
        for (uint32_t li : labelsOf(index)) {
            Mark& m = marks_[li];
            const size_t h = removedHint_;
            if (h + 10 < n && !(removals_[h].at < m.address && removals_[h + 10].at >= m.address))
                std::swap(removedHint_, other);
            funcs_[li]->Address = m.address -= removedBefore(m.address);
        }
    }
    if (fixups_.capacity() > 4096) std::vector<PFixup>().swap(fixups_);
    fn_ = nullptr;
}

}  // namespace

uint32_t layoutCode(uint32_t wordSize) {
    CodeLayout layout(wordSize);
    return layout.run();
}

}  // namespace morvel
