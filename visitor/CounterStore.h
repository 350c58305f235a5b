#pragma once
// The visitor counters in the registry store of the current home: REG_DWORD
// values of HKEY_LOCAL_MACHINE\Software\Visitor, one per reference name,
// the same values zazezere shows and sets.

#include <cstdint>
#include <string>

#include "platform/RegistryStore.h"

class CounterStore {
public:
    // Adds one to the counter name and stores it as a REG_DWORD, creating
    // the key and the counter (from 0) when missing, as zazezere would. The
    // read and the write are one transaction of the store, so hits from many
    // processes at once are all counted. Data that are not a 4-byte number
    // count from the number their first bytes spell (at most 4). 4294967295
    // goes on to 0. *count receives the new number. On failure nothing is
    // changed and the store's error code is returned.
    static platform::reg::LONG Hit(const std::string& name, uint32_t* count);
    // The counter's number without changing anything: 0 for a counter (or
    // key) that does not exist yet.
    static platform::reg::LONG Peek(const std::string& name, uint32_t* count);
};
