#pragma once
#include <cstdint>
#include <string>
#include <type_traits>

// Bounds of recursion: sources that nest past a limit are refused with a
// positioned fatal error before they could exhaust the stack.

// The fatal error of a nesting past its limit.
[[noreturn]] void refuseNesting(const std::string& message);

// Refuses one more level when depth levels are open and limit is reached.
// message is the text, or a function giving it (built only when refused).
template <class Message>
void checkNesting(uint32_t depth, uint32_t limit, const Message& message) {
    if (depth < limit) [[likely]]
        return;
    if constexpr (std::is_invocable_v<const Message&>) refuseNesting(message());
    else refuseNesting(message);
}

// One level counted in depth for as long as the guard lives, checked by
// checkNesting first.
class TNestingGuard {
public:
    template <class Message>
    TNestingGuard(uint32_t& depth, uint32_t limit, const Message& message) : F_Depth(depth) {
        checkNesting(depth, limit, message);
        ++F_Depth;
    }
    ~TNestingGuard() { --F_Depth; }
    TNestingGuard(const TNestingGuard&) = delete;
    TNestingGuard& operator=(const TNestingGuard&) = delete;

private:
    uint32_t& F_Depth;
};
