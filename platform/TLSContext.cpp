#include "platform/TLSContext.h"

#include <fcntl.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string_view>

#include "platform/File.h"

namespace platform {

namespace {

// The "intermediate" suites for TLS 1.2: ECDHE or DHE key exchange (forward
// secrecy) with an AEAD cipher, nothing else. TLS 1.3 has only such suites.
constexpr const char* kCiphers =
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:ECDHE-ECDSA-AES256-GCM-SHA384:"
    "ECDHE-RSA-AES256-GCM-SHA384:ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305:"
    "DHE-RSA-AES128-GCM-SHA256:DHE-RSA-AES256-GCM-SHA384:DHE-RSA-CHACHA20-POLY1305";
constexpr const char* kGroups = "X25519:prime256v1:secp384r1";

// The oldest error the library queued, in its words; the queue is emptied,
// so that the next operation of this thread starts clean.
std::string LibraryError() {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return "unknown reason";
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

// Session tickets are sealed with a key that rotates every eight hours; the
// two keys before it still open tickets (which are then renewed), so a
// client that resumes within a day skips the full handshake, and a stolen
// key uncovers at most a day of sessions. One ring serves every context of
// the process, so a certificate reload does not cost every client its
// resumption.
class TicketKeys {
public:
    struct Key {
        unsigned char name[16];
        unsigned char aes[32];
        unsigned char hmac[32];
        time_t made = 0;
    };
    static constexpr time_t kRotateAfter = 8 * 3600;
    static constexpr int kKept = 3;  // the current key and two old ones

    // The key new tickets are sealed with (rotating first when it is due).
    bool Current(Key* key) {
        std::lock_guard<std::mutex> guard(lock_);
        const time_t now = time(nullptr);
        if (count_ == 0 || now - keys_[0].made >= kRotateAfter) {
            Key fresh;
            if (RAND_bytes(fresh.name, sizeof fresh.name) != 1 || RAND_bytes(fresh.aes, sizeof fresh.aes) != 1 ||
                RAND_bytes(fresh.hmac, sizeof fresh.hmac) != 1)
                return false;
            fresh.made = now;
            for (int i = kKept - 1; i > 0; --i) keys_[i] = keys_[i - 1];
            keys_[0] = fresh;
            if (count_ < kKept) ++count_;
        }
        *key = keys_[0];
        return true;
    }
    // The key named name: 1 the current one, 2 an older one (the ticket is
    // to be renewed), 0 none (a full handshake follows).
    int Find(const unsigned char* name, Key* key) {
        std::lock_guard<std::mutex> guard(lock_);
        for (int i = 0; i < count_; ++i) {
            if (std::memcmp(keys_[i].name, name, sizeof keys_[i].name) != 0) continue;
            if (time(nullptr) - keys_[i].made >= kRotateAfter * kKept) return 0;
            *key = keys_[i];
            return i == 0 ? 1 : 2;
        }
        return 0;
    }

private:
    std::mutex lock_;  // guards keys_ and count_
    Key keys_[kKept];
    int count_ = 0;
};

TicketKeys& Tickets() {
    static TicketKeys keys;
    return keys;
}

bool KeyInto(const TicketKeys::Key& key, EVP_MAC_CTX* hmac) {
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_octet_string(OSSL_MAC_PARAM_KEY, const_cast<unsigned char*>(key.hmac), sizeof key.hmac),
        OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, const_cast<char*>("SHA256"), 0),
        OSSL_PARAM_construct_end()};
    return EVP_MAC_CTX_set_params(hmac, params) == 1;
}

// The tickets' cipher, looked up in the library once for the process rather
// than at every ticket sealed or opened (each lookup takes the library's
// locks); null when the library has none.
const EVP_CIPHER* TicketCipher() {
    struct Fetched {
        EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "AES-256-CBC", nullptr);
        ~Fetched() { EVP_CIPHER_free(cipher); }
    };
    static const Fetched fetched;
    return fetched.cipher;
}

int TicketCallback(SSL*, unsigned char* name, unsigned char* iv, EVP_CIPHER_CTX* cipher, EVP_MAC_CTX* hmac,
                   int encrypt) {
    TicketKeys::Key key;
    const EVP_CIPHER* sealing = TicketCipher();
    if (!sealing) return -1;
    if (encrypt) {
        if (!Tickets().Current(&key) || RAND_bytes(iv, 16) != 1) return -1;
        std::memcpy(name, key.name, sizeof key.name);
        if (EVP_EncryptInit_ex(cipher, sealing, nullptr, key.aes, iv) != 1 || !KeyInto(key, hmac)) return -1;
        return 1;
    }
    const int found = Tickets().Find(name, &key);
    if (found == 0) return 0;
    if (!KeyInto(key, hmac) || EVP_DecryptInit_ex(cipher, sealing, nullptr, key.aes, iv) != 1) return -1;
    return found;
}

// ALPN: only HTTP/1.1 is spoken. A client that offers other protocols and
// not it is answered without ALPN, and may go on or give up.
int SelectProtocol(SSL*, const unsigned char** out, unsigned char* outlen, const unsigned char* in,
                   unsigned int inlen, void*) {
    static const unsigned char kOffer[] = "\x08http/1.1";
    unsigned char* chosen = nullptr;
    if (SSL_select_next_proto(&chosen, outlen, kOffer, sizeof kOffer - 1, in, inlen) != OPENSSL_NPN_NEGOTIATED)
        return SSL_TLSEXT_ERR_NOACK;
    *out = chosen;
    return SSL_TLSEXT_ERR_OK;
}

std::string FingerprintOf(X509* certificate) {
    unsigned char* der = nullptr;
    const int length = i2d_X509(certificate, &der);
    if (length <= 0) return {};
    std::string text = TLSContext::Fingerprint(std::string(reinterpret_cast<char*>(der), static_cast<size_t>(length)));
    OPENSSL_free(der);
    return text;
}

// Whether the short file at path (a list under /proc) holds word among its
// blank-separated words. Read without a stream: a stream would set up the
// C++ library's locales, whose pages the process would then keep.
bool FileHas(const char* path, const char* word) {
    std::string text;
    if (!ReadWholeFile(path, &text)) return false;
    const std::string_view wanted(word);
    std::string_view rest(text);
    while (!rest.empty()) {
        const size_t start = rest.find_first_not_of(" \t\r\n");
        if (start == std::string_view::npos) break;
        rest.remove_prefix(start);
        const size_t end = std::min(rest.find_first_of(" \t\r\n"), rest.size());
        if (rest.substr(0, end) == wanted) return true;
        rest.remove_prefix(end);
    }
    return false;
}

// Owners of the library's objects, so an early return frees them.
struct KeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct CertificateFree {
    void operator()(X509* p) const { X509_free(p); }
};
struct StreamClose {
    void operator()(FILE* f) const { std::fclose(f); }
};

bool AddExtension(X509* certificate, int nid, const std::string& value) {
    X509V3_CTX v3;
    X509V3_set_ctx_nodb(&v3);
    X509V3_set_ctx(&v3, certificate, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &v3, nid, value.c_str());
    if (!extension) return false;
    const bool added = X509_add_ext(certificate, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

}  // namespace

TLSContext::~TLSContext() { SSL_CTX_free(static_cast<SSL_CTX*>(ctx_)); }

std::string TLSContext::Fingerprint(const std::string& der) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(der.data());
    X509* certificate = d2i_X509(nullptr, &bytes, static_cast<long>(der.size()));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    const bool digested = certificate && X509_digest(certificate, EVP_sha256(), digest, &length) == 1;
    X509_free(certificate);
    ERR_clear_error();
    if (!digested) return {};
    std::string text;
    char pair[4];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(pair, sizeof pair, i ? ":%02X" : "%02X", digest[i]);
        text += pair;
    }
    return text;
}

bool TLSContext::CertificateValidity(const std::string& certificateFile, int64_t* notBefore, int64_t* notAfter) {
    FILE* file = std::fopen(certificateFile.c_str(), "re");
    if (!file) return false;
    X509* certificate = PEM_read_X509(file, nullptr, nullptr, nullptr);
    std::fclose(file);
    std::tm begins{}, ends{};
    const bool read = certificate && ASN1_TIME_to_tm(X509_get0_notBefore(certificate), &begins) == 1 &&
                      ASN1_TIME_to_tm(X509_get0_notAfter(certificate), &ends) == 1;
    X509_free(certificate);
    ERR_clear_error();
    if (!read) return false;
    *notBefore = timegm(&begins);
    *notAfter = timegm(&ends);
    return true;
}

std::shared_ptr<TLSContext> TLSContext::Load(const std::string& certificateFile, const std::string& keyFile,
                                             std::string* error) {
    ERR_clear_error();
    std::shared_ptr<TLSContext> context(new TLSContext());
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    if (!ctx) {
        *error = LibraryError();
        return nullptr;
    }
    context->ctx_ = ctx;
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    uint64_t options = SSL_OP_NO_RENEGOTIATION | SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_COMPRESSION;
    if (KernelTLS()) options |= SSL_OP_ENABLE_KTLS;
    SSL_CTX_set_options(ctx, options);
    // Partial writes let a non-blocking send report what left; released
    // buffers keep an idle kept-alive connection at a few hundred bytes.
    SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_RELEASE_BUFFERS |
                              SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    // Records are read as many as have come with one system call, rather
    // than a header and then its body each: a client's flight of several
    // records (its Finished and its first request) is one read.
    SSL_CTX_set_read_ahead(ctx, 1);
    if (SSL_CTX_set_cipher_list(ctx, kCiphers) != 1 || SSL_CTX_set1_groups_list(ctx, kGroups) != 1) {
        *error = LibraryError();
        return nullptr;
    }
    SSL_CTX_set_dh_auto(ctx, 1);
    // Tickets carry the sessions; the server keeps none.
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_OFF);
    SSL_CTX_set_num_tickets(ctx, 1);
    SSL_CTX_set_tlsext_ticket_key_evp_cb(ctx, TicketCallback);
    SSL_CTX_set_alpn_select_cb(ctx, SelectProtocol, nullptr);
    if (SSL_CTX_use_certificate_chain_file(ctx, certificateFile.c_str()) != 1) {
        *error = "Cannot load the certificate " + certificateFile + " (" + LibraryError() + ")";
        return nullptr;
    }
    if (SSL_CTX_use_PrivateKey_file(ctx, keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
        const bool mismatch = ERR_GET_REASON(ERR_peek_last_error()) == X509_R_KEY_VALUES_MISMATCH;
        *error = (mismatch ? "The key " + keyFile + " does not match the certificate " + certificateFile
                           : "Cannot load the key " + keyFile) +
                 " (" + LibraryError() + ")";
        return nullptr;
    }
    if (SSL_CTX_check_private_key(ctx) != 1) {
        *error = "The key " + keyFile + " does not match the certificate " + certificateFile + " (" +
                 LibraryError() + ")";
        return nullptr;
    }
    // The chain goes out as the certificate file gives it. Completing it
    // from the context's store would try a verification at every full
    // handshake, and with a store that holds nothing it could add nothing.
    SSL_CTX_set_mode(ctx, SSL_MODE_NO_AUTO_CHAIN);
    if (X509* leaf = SSL_CTX_get0_certificate(ctx)) context->fingerprint_ = FingerprintOf(leaf);
    return context;
}

bool TLSContext::MakeSelfSigned(const std::string& certificateFile, const std::string& keyFile,
                                const std::vector<std::string>& names, std::string* fingerprint,
                                std::string* error) {
    ERR_clear_error();
    if (names.empty()) {
        *error = "no name for the certificate";
        return false;
    }
    std::unique_ptr<EVP_PKEY, KeyFree> key(EVP_EC_gen("P-256"));
    std::unique_ptr<X509, CertificateFree> certificate(X509_new());
    if (!key || !certificate) {
        *error = LibraryError();
        return false;
    }
    X509* x = certificate.get();
    BIGNUM* serial = BN_new();
    const bool serialSet = serial && BN_rand(serial, 63, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) == 1 &&
                           BN_to_ASN1_INTEGER(serial, X509_get_serialNumber(x)) != nullptr;
    BN_free(serial);
    std::string alternatives;
    for (const std::string& name : names) {
        if (name.empty()) continue;
        ASN1_OCTET_STRING* address = a2i_IPADDRESS(name.c_str());
        const std::string entry = (address ? "IP:" : "DNS:") + name;
        ASN1_OCTET_STRING_free(address);
        if (alternatives.find(entry) != std::string::npos) continue;
        if (!alternatives.empty()) alternatives += ',';
        alternatives += entry;
    }
    X509_NAME* subject = X509_get_subject_name(x);
    const bool built =
        serialSet && X509_set_version(x, 2) == 1 && X509_gmtime_adj(X509_getm_notBefore(x), 0) &&
        X509_gmtime_adj(X509_getm_notAfter(x), 365L * 24 * 3600) && X509_set_pubkey(x, key.get()) == 1 &&
        X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(names[0].c_str()), -1, -1, 0) == 1 &&
        X509_set_issuer_name(x, subject) == 1 && AddExtension(x, NID_subject_alt_name, alternatives) &&
        AddExtension(x, NID_ext_key_usage, "serverAuth") && AddExtension(x, NID_subject_key_identifier, "hash") &&
        X509_sign(x, key.get(), EVP_sha256()) > 0;
    if (!built) {
        *error = LibraryError();
        return false;
    }
    // The key is private from its first byte: made with mode 0600, never
    // widened afterwards.
    const int keyFd = open(keyFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (keyFd < 0) {
        *error = "Cannot write " + keyFile + " (" + std::strerror(errno) + ")";
        return false;
    }
    fchmod(keyFd, 0600);
    std::unique_ptr<FILE, StreamClose> keyOut(fdopen(keyFd, "w"));
    if (!keyOut) {
        close(keyFd);
        *error = "Cannot write " + keyFile;
        return false;
    }
    std::unique_ptr<FILE, StreamClose> certificateOut(std::fopen(certificateFile.c_str(), "w"));
    if (!certificateOut) {
        *error = "Cannot write " + certificateFile + " (" + std::strerror(errno) + ")";
        return false;
    }
    if (PEM_write_PrivateKey(keyOut.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1 ||
        PEM_write_X509(certificateOut.get(), x) != 1 || std::fflush(keyOut.get()) != 0 ||
        std::fflush(certificateOut.get()) != 0) {
        *error = "Cannot write the certificate or its key (" + LibraryError() + ")";
        return false;
    }
    *fingerprint = FingerprintOf(x);
    return true;
}

std::string TLSContext::HostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

bool TLSContext::KernelTLS() {
    static const bool available = [] {
        if (FileHas("/proc/sys/net/ipv4/tcp_available_ulp", "tls")) return true;
        // Not loaded yet: the library's first use loads it when it exists.
        struct utsname system;
        if (uname(&system) != 0) return false;
        const std::string base = std::string("/lib/modules/") + system.release + "/kernel/net/tls/tls.ko";
        for (const char* suffix : {"", ".xz", ".zst", ".gz"})
            if (access((base + suffix).c_str(), R_OK) == 0) return true;
        return false;
    }();
    return available;
}

}  // namespace platform
