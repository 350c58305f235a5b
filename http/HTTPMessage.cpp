#include "http/HTTPMessage.h"

#include <cstring>

#include "net/Socket.h"

HTTPMessage::HTTPMessage() { HTTPMessage::Reset(); }

void HTTPMessage::Reset() {
    Major = 1;
    Minor = 0;
    for (std::string& value : Header) value.clear();
    AdminEmail.clear();
    Valid = 0;
    Entity.Discard();
}

void HTTPMessage::ReadHeaders(Socket* s, unsigned long timeout) {
    char line[256];
    for (;;) {
        const int n = s->GetLine(line, sizeof line, timeout);
        if (n <= 0) return;
        const std::string_view text(line, static_cast<size_t>(n));
        const size_t colon = text.find(':');
        if (colon == std::string_view::npos) continue;
        const int index = HeaderIndex(text.substr(0, colon));
        if (index < 0) continue;
        size_t start = colon + 1;
        while (start < text.size() && std::strchr(" \t\r\n\v\f", text[start]) && text[start] != '\0') ++start;
        Header[index].assign(text.substr(start));
    }
}

void HTTPMessage::AppendHeaders(std::string* out) const {
    for (int i = 0; i < Hdr::Count; ++i) {
        if (Header[i].empty()) continue;
        out->append(HeaderString[i]);
        out->append(": ");
        out->append(Header[i]);
        out->append("\r\n");
    }
    out->append("\r\n");
}

void HTTPMessage::WriteHeaders(Socket* s, unsigned long timeout) {
    std::string block;
    AppendHeaders(&block);
    s->Send(block.data(), static_cast<int>(block.size()), timeout);
}
