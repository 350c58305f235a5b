#pragma once
// Control-C (SIGINT) and SIGTERM for a console program that reads its
// standard input line by line: instead of ending the process wherever it
// is, an interrupt ends the current (or next) wait for input, so that the
// program can close what it holds and leave in order.
//
// After CatchInterrupts the two signals are blocked and kept for
// ReadStandardInput, so one that arrives between two reads is not lost: the
// next read returns at once.

#include <cstddef>

namespace platform {

// Installs the catching. Call once, before any other thread starts. False
// when the signals could not be set up (they then keep ending the process).
bool CatchInterrupts();

// True once an interrupt arrived.
bool InterruptRequested();

// Reads up to size bytes of standard input: the count, 0 at the end of the
// input, -1 when an interrupt arrived (before or during the wait) or the
// input failed.
long ReadStandardInput(void* buffer, size_t size);

}  // namespace platform
