#include "http/HTTPMessage.h"

#include <cstring>

#include "http/HeaderLine.h"
#include "net/Socket.h"

HTTPMessage::HTTPMessage() { HTTPMessage::Reset(); }

void HTTPMessage::Reset() {
    Valid = 0;
    Protocol = 0;
    Major = 1;
    Minor = 0;
    TimeOut = 0;
    for (std::string& value : Header) value.clear();
    AdminEmail.clear();
    Entity.Discard();
}

void HTTPMessage::ReadHeaders(Socket* s, unsigned long timeout) {
    char line[256];
    constexpr int kFull = sizeof line - 1;
    for (;;) {
        int n = s->GetLine(line, sizeof line, timeout);
        if (n <= 0) return;
        // A line that fills the buffer goes on in further pieces, which are
        // dropped: the rest of a long value must not pose as a header, and
        // the line end after a line that just fills the buffer is not the
        // empty line that ends the block.
        if (n == kFull) {
            char rest[256];
            int piece = kFull;
            while (piece == kFull) {
                piece = s->GetLine(rest, sizeof rest, timeout);
                if (piece < 0) return;
            }
            if (line[n - 1] == '\r') --n;
        }
        std::string_view value;
        const int index = ParseHeaderLine(std::string_view(line, static_cast<size_t>(n)), &value);
        if (index < 0) continue;
        std::string& slot = Header[index];
        // Two lengths that differ are kept as a list, which no reader takes
        // for a length: which of them frames the body is unknown.
        if (index == Hdr::ContentLength && !slot.empty() && slot != value) {
            slot += ", ";
            slot += value;
        } else {
            slot.assign(value);
        }
    }
}

namespace {

// Each header's "Name: ", so that a line is three copies of known length.
constexpr std::string_view kLeads[Hdr::Count] = {
#define VAREVAVO_HEADER_LEAD(id, text) text ": ",
    VAREVAVO_HEADER_TABLE(VAREVAVO_HEADER_LEAD)
#undef VAREVAVO_HEADER_LEAD
};

}  // namespace

void HTTPMessage::AppendHeaders(std::string* out) const {
    // Measured first, then copied into place: one growth at most.
    size_t size = 2;
    for (int i = 0; i < Hdr::Count; ++i)
        if (!Header[i].empty()) size += kLeads[i].size() + Header[i].size() + 2;
    const size_t start = out->size();
    out->resize(start + size);
    char* at = out->data() + start;
    const auto put = [&at](std::string_view piece) {
        std::memcpy(at, piece.data(), piece.size());
        at += piece.size();
    };
    for (int i = 0; i < Hdr::Count; ++i) {
        if (Header[i].empty()) continue;
        put(kLeads[i]);
        put(Header[i]);
        put("\r\n");
    }
    put("\r\n");
}

void HTTPMessage::WriteHeaders(Socket* s, unsigned long timeout) {
    std::string block;
    AppendHeaders(&block);
    s->Send(block.data(), static_cast<int>(block.size()), timeout);
}
