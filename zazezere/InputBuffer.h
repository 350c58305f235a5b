#pragma once
// Standard input as a stream buffer whose reads end at an interrupt
// (platform/Signals.h): the stream then sees the end of its input.

#include <streambuf>

class InputBuffer : public std::streambuf {
protected:
    int_type underflow() override;

private:
    char buffer_[4096];
};
