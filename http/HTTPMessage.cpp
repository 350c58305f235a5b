#include "http/HTTPMessage.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "http/Characters.h"
#include "http/HeaderLine.h"
#include "http/LetterCase.h"

HTTPMessage::HTTPMessage() { HTTPMessage::Reset(); }

namespace {

// Whether text holds a NUL or a CR. Header values are short, so a word at a
// time beats two library searches that each pay their start-up cost.
bool HoldsNulOrCR(std::string_view text) {
    const auto holds = [&](size_t at) {
        const uint64_t word = WordAt(text.data() + at);
        return (ZeroBytes(word) | ZeroBytes(word ^ (kByteOnes * '\r'))) != 0;
    };
    const size_t size = text.size();
    if (size < 8) {
        for (const char c : text)
            if (c == '\0' || c == '\r') return true;
        return false;
    }
    // The last word overlaps the one before it rather than reading past.
    for (size_t at = 0; at + 8 < size; at += 8)
        if (holds(at)) return true;
    return holds(size - 8);
}

}  // namespace

void HTTPMessage::Reset() {
    Valid = 0;
    Protocol = 0;
    Major = 1;
    Minor = 0;
    TimeOut = 0;
    // Twice for every request (its message and its answer), and most of the
    // slots are empty: written out, the loop costs a test for each of
    // those rather than a loop's round and two stores.
#pragma GCC unroll 64
    for (std::string& value : Header)
        if (!value.empty()) value.clear();
    AdminEmail.clear();
    HostLines = 0;
    Expect.clear();
    MalformedLines = 0;
    Entity.Discard();
}

std::string_view HeadFaultText(HeadFault fault) {
    switch (fault) {
        case HeadFault::None: break;
        case HeadFault::LongLine: return "header line too long";
        case HeadFault::LargeHead: return "request head too large";
        case HeadFault::ManyLines: return "too many header lines";
        case HeadFault::ControlByte: return "NUL or bare CR in the request head";
        case HeadFault::RequestLineForm: return "words of the request line not parted by one blank";
        case HeadFault::BlankLines: return "too many blank lines before the request line";
    }
    return {};
}

bool HTTPMessage::NextLine(std::string_view bytes, size_t* at, std::string_view* line) {
    // A line end is seen only where a character could still be kept, so
    // a line longer than the bound comes back at kLongestLine + 2 characters.
    constexpr size_t kWindow = kLongestLine + 2;
    const std::string_view rest = bytes.substr(std::min(*at, bytes.size()));
    const size_t window = std::min(rest.size(), kWindow);
    const void* end = std::memchr(rest.data(), '\n', window);
    if (!end) {
        if (window < kWindow) return false;
        *line = rest.substr(0, kWindow);
        *at += kWindow;
        return true;
    }
    const size_t length = static_cast<size_t>(static_cast<const char*>(end) - rest.data());
    *line = rest.substr(0, length > 0 && rest[length - 1] == '\r' ? length - 1 : length);
    *at += length + 1;
    return true;
}

HeadFault HTTPMessage::ParseHeaders(std::string_view bytes, size_t* at, size_t* headBytes, bool* ended) {
    *ended = false;
    std::string_view text;
    for (int lines = 0; NextLine(bytes, at, &text); ++lines) {
        const size_t n = text.size();
        if (n == 0) {
            *ended = true;
            return HeadFault::None;
        }
        *headBytes += n + 2;
        if (n > static_cast<size_t>(kLongestLine)) return HeadFault::LongLine;
        if (*headBytes > kLargestHead) return HeadFault::LargeHead;
        if (lines == kMostHeaderLines) return HeadFault::ManyLines;
        // Most names are known ones, and a known name is a token: only a
        // name the table does not know is looked at byte by byte, and only
        // the bytes after a known one can hold a NUL or a CR.
        const size_t colon = text.find(':');
        const int index = colon == std::string_view::npos ? -1 : HeaderIndex(text.substr(0, colon));
        const std::string_view rest = text.substr(index >= 0 ? colon : 0);
        // The line end is gone: a CR left is one that ends no line.
        if (HoldsNulOrCR(rest)) return HeadFault::ControlByte;
        if (index < 0) {
            if (colon == std::string_view::npos || !IsToken(text.substr(0, colon))) ++MalformedLines;
            if (colon != std::string_view::npos && EqualNoCase(text.substr(0, colon), "Expect")) {
                if (!Expect.empty()) Expect += ", ";
                Expect += TrimBlanks(text.substr(colon + 1));
            }
            continue;
        }
        if (index == Hdr::Host) ++HostLines;
        const bool framing = index == Hdr::ContentLength || index == Hdr::TransferEncoding;
        const std::string_view value = text.substr(HeaderValueStart(text, colon, framing));
        std::string& slot = Header[index];
        // Two lengths that differ are kept as a list, which no reader takes
        // for a length: which of them frames the body is unknown.
        // Codings in several lines are one list, to be read as a whole.
        if ((index == Hdr::ContentLength && !slot.empty() && slot != value) ||
            (index == Hdr::TransferEncoding && !slot.empty())) {
            slot += ", ";
            slot += value;
        } else {
            slot.assign(value);
        }
    }
    return HeadFault::None;
}

namespace {

// Each header's "Name: " padded to a fixed width, so that a line's lead is
// one copy of known size (a few moves, no call) and its length is kept
// beside it.
struct PaddedLead {
    static constexpr size_t kWidth = 32;
    char text[kWidth];
    size_t size;
};
constexpr std::string_view kLeads[Hdr::Count] = {
#define VAREVAVO_HEADER_LEAD(id, text) text ": ",
    VAREVAVO_HEADER_TABLE(VAREVAVO_HEADER_LEAD)
#undef VAREVAVO_HEADER_LEAD
};
constexpr struct PaddedLeads {
    PaddedLead of[Hdr::Count];
    constexpr PaddedLeads() : of{} {
        for (int i = 0; i < Hdr::Count; ++i) {
            for (size_t k = 0; k < kLeads[i].size(); ++k) of[i].text[k] = kLeads[i][k];
            of[i].size = kLeads[i].size();
        }
    }
} kPadded;
static_assert([] {
    for (const std::string_view lead : kLeads)
        if (lead.size() > PaddedLead::kWidth) return false;
    return true;
}());

}  // namespace

void HTTPMessage::AppendHeaders(std::string* out) const {
    // Measured first, then copied into place: one growth at most. The
    // measuring pass notes which of the many slots are in use, so that the
    // copy visits only those. A lead is copied whole with its padding, which
    // the room of one padded lead past the end takes; the string is cut
    // back to its measure at the end.
    unsigned char present[Hdr::Count];
    int count = 0;
#pragma GCC unroll 64
    for (int i = 0; i < Hdr::Count; ++i)
        if (!Header[i].empty()) present[count++] = static_cast<unsigned char>(i);
    size_t size = 2;
    for (int k = 0; k < count; ++k) size += kPadded.of[present[k]].size + Header[present[k]].size() + 2;
    const size_t start = out->size();
    out->resize(start + size + PaddedLead::kWidth);
    char* at = out->data() + start;
    for (int k = 0; k < count; ++k) {
        const int i = present[k];
        std::memcpy(at, kPadded.of[i].text, PaddedLead::kWidth);
        at += kPadded.of[i].size;
        const std::string& value = Header[i];
        std::memcpy(at, value.data(), value.size());
        at += value.size();
        std::memcpy(at, "\r\n", 2);
        at += 2;
    }
    std::memcpy(at, "\r\n", 2);
    out->resize(start + size);
}
