#include "platform/TLSSession.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <memory>

#include "platform/File.h"
#include "platform/TLSContext.h"

namespace platform {

namespace {

SSL* Ssl(void* p) { return static_cast<SSL*>(p); }

// Without kernel TLS a file is read in parts this large and written out a
// full record at a time, so that one read feeds four records.
constexpr size_t kFilePart = 64 * 1024;
// Gather's buffer: four full records (16 KiB of text, a few bytes of
// header and tag each) and a response head before them.
constexpr long kGathered = 4 * (16384 + 256);

}  // namespace

TLSSession::TLSSession(const TLSContext& context, int fd) {
    SSL* ssl = SSL_new(static_cast<SSL_CTX*>(context.Native()));
    if (!ssl) {
        ERR_clear_error();
        return;
    }
    if (SSL_set_fd(ssl, fd) != 1) {
        SSL_free(ssl);
        ERR_clear_error();
        return;
    }
    SSL_set_accept_state(ssl);
    ssl_ = ssl;
}

TLSSession::~TLSSession() { SSL_free(Ssl(ssl_)); }

long TLSSession::Result(int ret, bool reading) {
    switch (SSL_get_error(Ssl(ssl_), ret)) {
        case SSL_ERROR_WANT_READ: wantsWrite_ = false; return kWantRead;
        case SSL_ERROR_WANT_WRITE: wantsWrite_ = true; return kWantWrite;
        case SSL_ERROR_ZERO_RETURN: return reading ? 0 : kFailed;
        default:
            // The queue is this thread's: left behind it would be taken
            // for the failure of the next session this thread serves.
            ERR_clear_error();
            return kFailed;
    }
}

long TLSSession::Read(char* buffer, size_t len) {
    ERR_clear_error();
    size_t got = 0;
    const int r = SSL_read_ex(Ssl(ssl_), buffer, len, &got);
    return r == 1 ? static_cast<long>(got) : Result(r, true);
}

long TLSSession::Write(const char* data, size_t len) {
    ERR_clear_error();
    size_t written = 0;
    const int r = SSL_write_ex(Ssl(ssl_), data, len, &written);
    return r == 1 ? static_cast<long>(written) : Result(r, false);
}

long TLSSession::SendFile(const File& file, uint64_t offset, size_t count) {
    if (KernelSend()) {
        ERR_clear_error();
        const ossl_ssize_t r = SSL_sendfile(Ssl(ssl_), file.NativeHandle(), static_cast<off_t>(offset), count, 0);
        return r >= 0 ? static_cast<long>(r) : Result(static_cast<int>(r), false);
    }
    // What the socket did not take is read again at the same offset next
    // time: the same bytes, which is what a retried write must offer.
    thread_local std::unique_ptr<char[]> part;
    if (!part) part = std::make_unique<char[]>(kFilePart);
    const long got = file.ReadAt(offset, part.get(), std::min(count, kFilePart));
    if (got <= 0) return got == 0 ? 0 : kFailed;
    // A partial write takes one record per call: the rest of the part goes
    // on until the socket is full. What left counts even if the last write
    // must wait; a retry then starts with the bytes it was offered.
    long sent = 0;
    while (sent < got) {
        const long n = Write(part.get() + sent, static_cast<size_t>(got - sent));
        if (n <= 0) return sent > 0 ? sent : n;
        sent += n;
    }
    return sent;
}

bool TLSSession::ShutDown() {
    SSL* ssl = Ssl(ssl_);
    if (!SSL_is_init_finished(ssl)) return true;
    if (SSL_get_shutdown(ssl) & SSL_SENT_SHUTDOWN) return true;
    ERR_clear_error();
    const int r = SSL_shutdown(ssl);
    if (r < 0) ERR_clear_error();
    return r >= 0;
}

bool TLSSession::Gather() {
    if (gathering_) return true;
    if (KernelSend()) return false;
    SSL* ssl = Ssl(ssl_);
    BIO* socket = SSL_get_wbio(ssl);
    BIO* buffer = BIO_new(BIO_f_buffer());
    // The socket's BIO is shared with the read side: the buffer holds a
    // reference of its own, so replacing the write side frees neither.
    if (!buffer || BIO_set_write_buffer_size(buffer, kGathered) != 1 || BIO_up_ref(socket) != 1) {
        BIO_free(buffer);
        ERR_clear_error();
        return false;
    }
    SSL_set0_wbio(ssl, BIO_push(buffer, socket));
    gathering_ = true;
    return true;
}

long TLSSession::Flush() {
    if (!gathering_) return 1;
    SSL* ssl = Ssl(ssl_);
    BIO* buffer = SSL_get_wbio(ssl);
    if (BIO_flush(buffer) <= 0) {
        if (BIO_should_retry(buffer)) {
            wantsWrite_ = true;
            return kWantWrite;
        }
        ERR_clear_error();
        return kFailed;
    }
    // Emptied: the buffer is freed, and idle connections hold no memory
    // for it.
    BIO* socket = BIO_next(buffer);
    if (BIO_up_ref(socket) != 1) return kFailed;
    SSL_set0_wbio(ssl, socket);
    gathering_ = false;
    return 1;
}

bool TLSSession::Pending() const { return SSL_has_pending(Ssl(ssl_)) == 1; }
bool TLSSession::Established() const { return SSL_is_init_finished(Ssl(ssl_)) == 1; }
bool TLSSession::Resumed() const { return SSL_session_reused(Ssl(ssl_)) == 1; }
bool TLSSession::KernelSend() const { return BIO_get_ktls_send(SSL_get_wbio(Ssl(ssl_))) != 0; }

}  // namespace platform
