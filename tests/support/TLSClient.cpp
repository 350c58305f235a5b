#include "tests/support/TLSClient.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <ctime>
#include <functional>

#include "platform/TLSContext.h"

namespace testing_support {

struct TLSClient::State {
    SSL_CTX* ctx = nullptr;
    SSL* ssl = nullptr;
    SSL_SESSION* saved = nullptr;
    ~State() {
        End();
        SSL_free(ssl);
        SSL_SESSION_free(saved);
        SSL_CTX_free(ctx);
    }
    // Ends the connection in order: a session freed without close_notify
    // is marked unfit for resumption.
    void End() {
        if (ssl && SSL_is_init_finished(ssl)) SSL_shutdown(ssl);
        ERR_clear_error();
    }
    // Repeats step while the session wants the socket, waiting for it at
    // most until deadline (seconds of the wall clock).
    int Drive(const std::function<int()>& step, time_t deadline) {
        for (;;) {
            const int r = step();
            if (r > 0) return r;
            const int error = SSL_get_error(ssl, r);
            if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) return r;
            if (BIO_socket_wait(SSL_get_fd(ssl), error == SSL_ERROR_WANT_READ, deadline) <= 0) return -1;
        }
    }
};

TLSClient::TLSClient(const std::string& caFile) : state_(std::make_unique<State>()) {
    state_->ctx = SSL_CTX_new(TLS_client_method());
    if (!caFile.empty()) {
        SSL_CTX_load_verify_locations(state_->ctx, caFile.c_str(), nullptr);
        SSL_CTX_set_verify(state_->ctx, SSL_VERIFY_PEER, nullptr);
    }
    SSL_CTX_set_session_cache_mode(state_->ctx, SSL_SESS_CACHE_CLIENT);
}

TLSClient::~TLSClient() = default;

void TLSClient::LimitToTLS12() { SSL_CTX_set_max_proto_version(state_->ctx, TLS1_2_VERSION); }

bool TLSClient::Connect(int port, bool resume) {
    const time_t deadline = time(nullptr) + 5;
    BIO* bio = BIO_new_connect(("127.0.0.1:" + std::to_string(port)).c_str());
    if (!bio || BIO_do_connect_retry(bio, 5, 10) <= 0) {
        BIO_free(bio);
        error_ = "cannot connect";
        return false;
    }
    BIO_set_nbio(bio, 1);
    state_->End();
    SSL_free(state_->ssl);
    state_->ssl = SSL_new(state_->ctx);
    SSL_set_bio(state_->ssl, bio, bio);
    SSL_set_tlsext_host_name(state_->ssl, "localhost");
    SSL_set1_host(state_->ssl, "localhost");
    static const unsigned char kALPN[] = "\x02h2\x08http/1.1";
    SSL_set_alpn_protos(state_->ssl, kALPN, sizeof kALPN - 1);
    if (resume && state_->saved) SSL_set_session(state_->ssl, state_->saved);
    SSL* ssl = state_->ssl;
    if (state_->Drive([ssl] { return SSL_connect(ssl); }, deadline) <= 0) {
        char text[256];
        ERR_error_string_n(ERR_get_error(), text, sizeof text);
        error_ = text;
        ERR_clear_error();
        return false;
    }
    return true;
}

bool TLSClient::Send(const std::string& bytes) {
    SSL* ssl = state_->ssl;
    size_t sent = 0;
    while (sent < bytes.size()) {
        size_t n = 0;
        if (state_->Drive([&] { return SSL_write_ex(ssl, bytes.data() + sent, bytes.size() - sent, &n); },
                          time(nullptr) + 5) <= 0)
            return false;
        sent += n;
    }
    return true;
}

bool TLSClient::SendRecords(const std::vector<std::string>& pieces) {
    SSL* ssl = state_->ssl;
    BIO* socket = SSL_get_wbio(ssl);
    BIO* buffer = BIO_new(BIO_f_buffer());
    // The socket's BIO is shared with the read side: each chain holds a
    // reference of its own.
    if (!buffer || BIO_set_write_buffer_size(buffer, 65536) != 1 || BIO_up_ref(socket) != 1) {
        BIO_free(buffer);
        return false;
    }
    SSL_set0_wbio(ssl, BIO_push(buffer, socket));
    bool sent = true;
    for (const std::string& piece : pieces) sent = sent && Send(piece);
    sent = sent && BIO_flush(buffer) == 1;
    if (BIO_up_ref(socket) != 1) return false;
    SSL_set0_wbio(ssl, socket);
    return sent;
}

std::string TLSClient::ReadAll(int timeoutMs) { return Read(std::string::npos, timeoutMs); }

std::string TLSClient::Read(size_t count, int timeoutMs) {
    SSL* ssl = state_->ssl;
    const time_t deadline = time(nullptr) + (timeoutMs + 999) / 1000;
    std::string got;
    char buffer[16384];
    while (got.size() < count) {
        size_t n = 0;
        if (state_->Drive([&] { return SSL_read_ex(ssl, buffer, sizeof buffer, &n); }, deadline) <= 0) break;
        got.append(buffer, n);
    }
    ERR_clear_error();
    return got;
}

void TLSClient::Save() {
    SSL_SESSION_free(state_->saved);
    state_->saved = SSL_get1_session(state_->ssl);
}

bool TLSClient::Resumed() const { return SSL_session_reused(state_->ssl) == 1; }
std::string TLSClient::Protocol() const { return SSL_get_version(state_->ssl); }

std::string TLSClient::ALPN() const {
    const unsigned char* name = nullptr;
    unsigned int length = 0;
    SSL_get0_alpn_selected(state_->ssl, &name, &length);
    return std::string(reinterpret_cast<const char*>(name), length);
}

std::string TLSClient::Fingerprint() const {
    X509* certificate = SSL_get0_peer_certificate(state_->ssl);
    unsigned char* der = nullptr;
    const int length = certificate ? i2d_X509(certificate, &der) : 0;
    if (length <= 0) return {};
    std::string text =
        platform::TLSContext::Fingerprint(std::string(reinterpret_cast<char*>(der), static_cast<size_t>(length)));
    OPENSSL_free(der);
    return text;
}

std::string TLSExchange(int port, const std::string& request, int timeoutMs) {
    TLSClient client;
    if (!client.Connect(port) || !client.Send(request)) return {};
    return client.ReadAll(timeoutMs);
}

}  // namespace testing_support
