#include "platform/TLSSession.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <memory>

#include "platform/File.h"
#include "platform/TLSContext.h"
#include "platform/TLSOutput.h"

namespace platform {

namespace {

SSL* Ssl(void* p) { return static_cast<SSL*>(p); }

// Without kernel TLS a file is read in parts this large and written out a
// full record at a time, so that one read feeds a 100 KiB document whole.
constexpr size_t kFilePart = 128 * 1024;
// Gather's buffer: seven full records (16 KiB of text, a few bytes of
// header and tag each), so that a 100 KiB answer with its head leaves in
// one send; still below the size the allocator maps pages for, which
// would cost faults at every answer.
constexpr size_t kGathered = 7 * (16384 + 256);
// What a handshake may hold back: its flight (sent when the session turns
// to read) and the ticket made at its end (which waits for the first
// answer).
constexpr size_t kHeldBack = TLSOutput::kSmall;

// Until its handshake ends, a session that has sent a flight waits for the
// peer's: its next read cannot find anything the peer sent after it.
bool AwaitingPeer(const void* ssl) { return SSL_is_init_finished(static_cast<const SSL*>(ssl)) != 1; }

}  // namespace

TLSSession::TLSSession(const TLSContext& context, int fd) {
    SSL_CTX* ctx = static_cast<SSL_CTX*>(context.Native());
    SSL* ssl = SSL_new(ctx);
    if (!ssl) {
        ERR_clear_error();
        return;
    }
    // Kernel TLS needs the library's own socket BIO on both sides; else the
    // records leave through the session's output.
    bool ready;
    if (SSL_CTX_get_options(ctx) & SSL_OP_ENABLE_KTLS) {
        ready = SSL_set_fd(ssl, fd) == 1;
    } else {
        out_ = std::make_unique<TLSOutput>(fd);
        BIO* bio = static_cast<BIO*>(out_->MakeBio());
        if (bio) SSL_set0_wbio(ssl, bio);
        ready = bio && SSL_set_rfd(ssl, fd) == 1;
        if (ready) out_->FlushBeforeReads(SSL_get_rbio(ssl), AwaitingPeer, ssl);
        out_->Gather(kHeldBack);
    }
    if (!ready) {
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
    if (r == 1) {
        // The handshake is over and a request has come: the ticket made at
        // its end leaves with the answer.
        if (handshaking_ && out_) out_->StopGathering();
        handshaking_ = false;
        return static_cast<long>(got);
    }
    const long result = Result(r, true);
    // The peer waits for what the session wrote (a flight, an alert).
    if (out_ && out_->Waiting() > 0 && out_->Flush() == 0 && result == kWantRead) {
        wantsWrite_ = true;
        return kWantWrite;
    }
    return result;
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
    // The alert has left with anything that still waited; what the socket
    // did not take leaves now.
    if (out_ && out_->Flush() < 0) return false;
    return r >= 0;
}

bool TLSSession::Gather() {
    if (!out_) return false;
    out_->Gather(kGathered);
    return true;
}

long TLSSession::Flush() {
    if (!out_) return 1;
    const long r = out_->Flush();
    if (r == 0) {
        wantsWrite_ = true;
        return kWantWrite;
    }
    if (r < 0) return kFailed;
    // Emptied: the buffer goes, and idle connections hold no memory for it.
    out_->StopGathering();
    return 1;
}

bool TLSSession::Pending() const { return SSL_has_pending(Ssl(ssl_)) == 1; }
bool TLSSession::Established() const { return SSL_is_init_finished(Ssl(ssl_)) == 1; }
bool TLSSession::Resumed() const { return SSL_session_reused(Ssl(ssl_)) == 1; }
bool TLSSession::KernelSend() const { return !out_ && BIO_get_ktls_send(SSL_get_wbio(Ssl(ssl_))) != 0; }

}  // namespace platform
