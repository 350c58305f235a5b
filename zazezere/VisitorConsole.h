#pragma once
// zazezere: the console that creates and sets the hit counters of a
// visitor-counter script. The counters are REG_DWORD values of the key
// HKEY_LOCAL_MACHINE\Software\Visitor, one per reference name (the text a
// page puts after the ? of the counter URL). For each name typed, the
// console shows the count (or announces a new counter), takes a new value,
// writes it, and prints the image tag that shows the counter on a page.
//
// The dialogue runs until the input ends (end of file, or Control-C, which
// ends the wait for input): both keys are closed and the exit status is 0.
// A number that cannot be read stores what the stream gives for it (0, or
// the nearest limit of a 32-bit signed number when out of range), and the
// rest of that line is skipped. A reference name longer than 255
// characters is refused and the dialogue goes on.
//
// Counters whose data are not a 4-byte number are shown as the number
// their first bytes spell (at most 4, never more than the value holds),
// and the value typed then replaces them with a proper REG_DWORD.

#include <istream>
#include <ostream>

class VisitorConsole {
public:
    // Runs the dialogue on in and out. Returns the exit status: 0 when the
    // input ended; 1 when the registry could not be opened or a counter could
    // not be read. A store that cannot be opened or written is reported on err.
    int Run(std::istream& in, std::ostream& out, std::ostream& err);
};
