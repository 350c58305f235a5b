#pragma once
// The content codings this server can send, and compressing a whole
// document into one of them. The three libraries stay behind this one
// function: nothing else of the server names them.

#include <string>
#include <string_view>

namespace platform {

// Numbered for use as bits (1 << coding) in a set of codings.
enum class Coding : int { Identity = 0, Gzip = 1, Brotli = 2, Zstd = 3 };

// Compresses the whole of input into *output (replaced) in coding, at a
// high level of compression, since a result is made once and sent many
// times. False, with *output empty, for Identity or a failure of the
// library (memory).
bool Compress(Coding coding, std::string_view input, std::string* output);

}  // namespace platform
