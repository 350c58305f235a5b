#pragma once
// Content codings as HTTP names them: which one a client's Accept-Encoding
// lets the server send, the file name of a precompressed copy, which
// documents are worth compressing, and entity tags and their comparisons.
// Pure functions of their arguments; safe from any thread.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Compressor.h"
#include "platform/FileInfo.h"

using platform::Coding;

class ContentCoding {
public:
    // A set of codings: bit (1 << coding) for each.
    static constexpr unsigned Bit(Coding coding) { return 1u << static_cast<int>(coding); }
    // The codings other than Identity, best first when a client likes
    // several equally well: the smaller result of the newer coding wins.
    static constexpr Coding kPreference[] = {Coding::Zstd, Coding::Brotli, Coding::Gzip};

    // The coding's name in Content-Encoding ("gzip", "br", "zstd"); empty
    // for Identity.
    static std::string_view Name(Coding coding);
    // The ending of a precompressed copy's file name (".gz", ".br", ".zst").
    static std::string_view Suffix(Coding coding);

    // The coding to send among offered (a set; Identity is always
    // possible) under the value of an Accept-Encoding header (not empty).
    // The highest q-value wins, identity included; a tie goes to the
    // coding earliest in kPreference, and a coding to identity. "*" stands
    // for every coding the header does not name, identity included, and
    // "x-gzip" for gzip. Identity that no item names is acceptable, below
    // every coding listed; "identity;q=0", or "*;q=0" without identity
    // named, refuses it. When nothing offered is acceptable the
    // answer is Identity all the same: an uncompressed answer is what the
    // standard asks for then, and better than none.
    static Coding Choose(std::string_view acceptEncoding, unsigned offered);

    // Whether a document of this content type shrinks when compressed:
    // text, scripts, JSON, XML, SVG and WebAssembly.
    static bool IsCompressible(std::string_view contentType);

    // The strong entity tag of a file's bytes: its identity, size and time
    // of last write, and a coding's name when the bytes are the file's
    // compressed.
    static std::string EntityTag(const platform::FileInfo& facts, Coding coding = Coding::Identity);
    // Whether an If-None-Match value (a list of tags, or "*") holds tag,
    // compared weakly (a "W/" before either is ignored).
    static bool NoneMatchHolds(std::string_view ifNoneMatch, std::string_view tag);
    // Whether an If-Range value is an entity tag rather than a date.
    static bool IsEntityTag(std::string_view value);
};
