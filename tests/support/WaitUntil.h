#pragma once
// Test support: waiting for something another thread or process brings
// about, with a deadline, instead of a fixed sleep or an unbounded spin.

#include <chrono>
#include <functional>
#include <thread>

namespace testing_support {

// Asks done every 10 ms until it holds or timeoutMs has passed; its last answer.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

}  // namespace testing_support
