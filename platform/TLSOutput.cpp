#include "platform/TLSOutput.h"

#include <openssl/bio.h>

#include "platform/NetCalls.h"

namespace platform {

namespace {

TLSOutput* Output(BIO* bio) { return static_cast<TLSOutput*>(BIO_get_data(bio)); }

int WriteRecord(BIO* bio, const char* data, size_t len, size_t* written) {
    BIO_clear_retry_flags(bio);
    *written = 0;
    const long n = Output(bio)->Put(data, len);
    if (n > 0) {
        *written = static_cast<size_t>(n);
        return 1;
    }
    if (n == 0) BIO_set_retry_write(bio);
    return 0;
}

long Control(BIO* bio, int command, long, void*) {
    switch (command) {
        case BIO_CTRL_FLUSH: return 1;  // the session flushes when it means to
        case BIO_CTRL_WPENDING: return static_cast<long>(Output(bio)->Waiting());
        default: return 0;
    }
}

// Before the library reads the socket, what waits leaves. A handshake's
// flight that has just left cannot have been answered yet (the peer needs
// it, and a round trip, to go on): the read is not made, and the library
// hears that it must wait for the socket to be readable, as the read
// would have told it, one system call later.
long BeforeRead(BIO* bio, int operation, const char*, size_t, int, long, int ret, size_t*) {
    if (operation != BIO_CB_READ) return ret;
    auto* out = static_cast<TLSOutput*>(static_cast<void*>(BIO_get_callback_arg(bio)));
    const bool flight = out->Waiting() > 0 && out->AwaitingAnswer();
    if (out->Flush() == 1 && flight) {
        BIO_clear_retry_flags(bio);
        BIO_set_retry_read(bio);
        return -1;
    }
    return ret;
}

// The method is made once for the process and lives as long as it.
const BIO_METHOD* Method() {
    static BIO_METHOD* const method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "TLS output");
        if (m && (BIO_meth_set_write_ex(m, WriteRecord) != 1 || BIO_meth_set_ctrl(m, Control) != 1)) {
            BIO_meth_free(m);
            m = nullptr;
        }
        return m;
    }();
    return method;
}

}  // namespace

void* TLSOutput::MakeBio() {
    const BIO_METHOD* method = Method();
    BIO* bio = method ? BIO_new(method) : nullptr;
    if (!bio) return nullptr;
    BIO_set_data(bio, this);
    BIO_set_init(bio, 1);
    return bio;
}

void TLSOutput::FlushBeforeReads(void* readBio, bool (*awaiting)(const void*), const void* session) {
    awaiting_ = awaiting;
    session_ = session;
    BIO* bio = static_cast<BIO*>(readBio);
    BIO_set_callback_arg(bio, reinterpret_cast<char*>(this));
    BIO_set_callback_ex(bio, BeforeRead);
}

void TLSOutput::Gather(size_t capacity) {
    gathering_ = true;
    capacity_ = capacity;
    // A buffer of many records is made at once the size it may reach, so
    // that records are not copied again as it grows.
    if (capacity > kSmall && pending_.capacity() < capacity) pending_.reserve(capacity);
}

void TLSOutput::StopGathering() {
    gathering_ = false;
    capacity_ = 0;
    if (Waiting() == 0) Sent(0);
}

long TLSOutput::Put(const char* data, size_t len) {
    if (gathering_ && Waiting() + len <= capacity_) {
        // After a partial send the part that left goes, so the buffer
        // never grows past its capacity.
        if (sent_ > 0) {
            pending_.erase(0, sent_);
            sent_ = 0;
        }
        pending_.append(data, len);
        return static_cast<long>(len);
    }
    // What waits leaves first, and this with it, in one call; a record
    // that does not fit is sent from where it lies rather than copied.
    const size_t waiting = Waiting();
    const long n = waiting ? net::SendTwo(fd_, pending_.data() + sent_, waiting, data, len) : net::Send(fd_, data, len);
    if (n < 0) return net::LastError() == net::WSAEWOULDBLOCK ? 0 : -1;
    const size_t moved = static_cast<size_t>(n);
    Sent(moved < waiting ? moved : waiting);
    return moved < waiting ? 0 : static_cast<long>(moved - waiting);
}

long TLSOutput::Flush() {
    const size_t waiting = Waiting();
    if (waiting == 0) return 1;
    const long n = net::Send(fd_, pending_.data() + sent_, waiting);
    if (n < 0) return net::LastError() == net::WSAEWOULDBLOCK ? 0 : -1;
    Sent(static_cast<size_t>(n));
    return static_cast<size_t>(n) == waiting ? 1 : 0;
}

void TLSOutput::Sent(size_t n) {
    sent_ += n;
    if (sent_ < pending_.size()) return;
    sent_ = 0;
    // Emptied: a connection that is not gathering keeps no buffer while
    // it is idle.
    if (gathering_) pending_.clear();
    else std::string().swap(pending_);
}

}  // namespace platform
