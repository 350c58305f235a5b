#pragma once
// Slows down password guessing: failed credentials (for a protected folder
// or the master key) are counted per client address, and an address that
// failed kFailuresAllowed times within a minute is refused for the rest of
// that minute, before any password is compared again. One throttle serves
// the whole server: every loop and worker thread asks and tells it.
//
// The table of addresses is bounded: when it is full, the address seen
// least recently leaves it, so a flood of addresses cannot grow memory.
// Only failures add addresses; successes count for nothing.

#include <cstddef>
#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

class GuessThrottle {
public:
    static constexpr uint32_t kFailuresAllowed = 10;
    static constexpr uint32_t kMinuteMs = 60000;
    static constexpr size_t kDefaultCapacity = 4096;

    explicit GuessThrottle(size_t capacity = kDefaultCapacity);
    GuessThrottle(const GuessThrottle&) = delete;
    GuessThrottle& operator=(const GuessThrottle&) = delete;

    // True while address is refused at nowMs (a millisecond clock that may
    // wrap: only differences count). *firstRefusal tells whether this is the
    // first refusal of the address's blocked minute, which the caller logs.
    bool Blocked(std::string_view address, uint32_t nowMs, bool* firstRefusal);
    // Records one failure of address at nowMs.
    void Failed(std::string_view address, uint32_t nowMs);
    // How many addresses the table holds.
    size_t Size() const;

private:
    struct Entry {
        uint32_t minuteStart = 0;  // the first failure of the current minute
        uint32_t failures = 0;     // in that minute
        bool refusalLogged = false;
        std::list<std::string>::iterator seen;  // its place in seen_
    };
    // Starts a new minute for entry when its minute has passed.
    static void Age(Entry* entry, uint32_t nowMs);
    // Moves the entry to the most recently seen end.
    void Touch(Entry* entry);

    const size_t capacity_;
    mutable std::mutex lock_;  // guards entries_ and seen_
    std::unordered_map<std::string, Entry> entries_;
    std::list<std::string> seen_;  // addresses, least recently seen first
};
