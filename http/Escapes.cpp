#include "http/Escapes.h"

char x2c(const char* two) {
    int digit[2];
    for (int i = 0; i < 2; ++i) {
        const int c = static_cast<unsigned char>(two[i]);
        digit[i] = c > 64 ? (c & 0xdf) - 'A' + 10 : c - '0';
    }
    return static_cast<char>(digit[0] * 16 + digit[1]);
}

void unescape_url(std::string& url) {
    // Bytes before the first '%' stay where they are: most URLs hold none.
    const size_t first = url.find('%');
    if (first == std::string::npos) return;
    size_t out = first;
    for (size_t in = first; in < url.size(); ++in, ++out) {
        if (url[in] == '%' && in + 2 < url.size()) {
            url[out] = x2c(&url[in + 1]);
            in += 2;
        } else {
            url[out] = url[in];
        }
    }
    url.resize(out);
}

std::string DecodeEscape(const std::string& s) {
    std::string work = s.substr(0, 8191);
    unescape_url(work);
    return work;
}

std::string EncodeEscape(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        if (c == '%' || c == ' ' || c == '?' || c == '+' || c == '&') {
            char code[4];
            std::snprintf(code, sizeof code, "%%%2x", static_cast<unsigned char>(c));
            out += code;
        } else {
            out += c;
        }
    }
    return out;
}

std::string EncodePath(std::string_view path) {
    static const char kHex[] = "0123456789ABCDEF";
    const auto keep = [](unsigned char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               std::string_view("-._~/!$'()*,;=").find(static_cast<char>(c)) != std::string_view::npos;
    };
    std::string out;
    out.reserve(path.size());
    for (const char c : path) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (keep(u)) {
            out += c;
        } else {
            out += '%';
            out += kHex[u >> 4];
            out += kHex[u & 15];
        }
    }
    return out;
}

std::string PlusToSpace(std::string s) {
    for (char& c : s)
        if (c == '+') c = ' ';
    return s;
}

std::string StringToken(std::string* s, std::string_view delimiters) {
    const size_t at = s->find_first_of(delimiters);
    if (at == std::string::npos) {
        std::string token = std::move(*s);
        s->clear();
        return token;
    }
    std::string token = s->substr(0, at);
    s->erase(0, at + 1);
    return token;
}

std::string HTMLEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}
