#include "auth/GuessThrottle.h"

#include <iterator>

GuessThrottle::GuessThrottle(size_t capacity) : capacity_(capacity == 0 ? 1 : capacity) {}

void GuessThrottle::Age(Entry* entry, uint32_t nowMs) {
    if (nowMs - entry->minuteStart < kMinuteMs) return;
    entry->minuteStart = nowMs;
    entry->failures = 0;
    entry->refusalLogged = false;
}

void GuessThrottle::Touch(Entry* entry) { seen_.splice(seen_.end(), seen_, entry->seen); }

bool GuessThrottle::Blocked(std::string_view address, uint32_t nowMs, bool* firstRefusal) {
    *firstRefusal = false;
    const std::lock_guard<std::mutex> hold(lock_);
    const auto found = entries_.find(std::string(address));
    if (found == entries_.end()) return false;
    Entry& entry = found->second;
    Age(&entry, nowMs);
    Touch(&entry);
    if (entry.failures < kFailuresAllowed) return false;
    *firstRefusal = !entry.refusalLogged;
    entry.refusalLogged = true;
    return true;
}

void GuessThrottle::Failed(std::string_view address, uint32_t nowMs) {
    const std::lock_guard<std::mutex> hold(lock_);
    std::string key(address);
    auto found = entries_.find(key);
    if (found == entries_.end()) {
        if (entries_.size() >= capacity_) {
            entries_.erase(seen_.front());
            seen_.pop_front();
        }
        seen_.push_back(key);
        Entry fresh;
        fresh.minuteStart = nowMs;
        fresh.seen = std::prev(seen_.end());
        found = entries_.emplace(std::move(key), fresh).first;
    }
    Entry& entry = found->second;
    Age(&entry, nowMs);
    Touch(&entry);
    ++entry.failures;
}

size_t GuessThrottle::Size() const {
    const std::lock_guard<std::mutex> hold(lock_);
    return entries_.size();
}
