#pragma once
// The TLS side of one accepted connection, over a non-blocking socket
// descriptor it does not own. Nothing here waits: every operation that
// cannot go on until the socket is readable or writable says so in its
// result (kWantRead, kWantWrite), and the caller polls for that and calls
// again. The handshake happens inside the first reads; Established tells
// when it is over.
//
// Results of Read, Write and SendFile: bytes moved (> 0); 0 from Read when
// the peer has closed (an orderly close_notify, or the bare end of the TCP
// stream, which is tolerated); kWantRead / kWantWrite; kFailed for a broken
// session (a handshake refused, a damaged record, a reset).
//
// Without kernel TLS the handshake's records leave when the session turns
// to read (which then reports kWantRead at once: the peer's answer to them
// cannot have come yet), and the session ticket made at its end waits for the first
// answer's records and leaves in their send (a read that brings no request
// sends it). Everything a session wrote has left once Flush or ShutDown
// says so.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace platform {

class File;
class TLSContext;
class TLSOutput;

class TLSSession {
public:
    static constexpr long kWantRead = -2;
    static constexpr long kWantWrite = -3;
    static constexpr long kFailed = -1;

    // A server session on descriptor fd. IsValid is false when the library
    // could not make one (memory).
    TLSSession(const TLSContext& context, int fd);
    ~TLSSession();
    TLSSession(const TLSSession&) = delete;
    TLSSession& operator=(const TLSSession&) = delete;

    bool IsValid() const { return ssl_ != nullptr; }

    // Up to len bytes of plain text (driving the handshake first).
    long Read(char* buffer, size_t len);
    // Encrypts and sends up to len bytes; a partial write says how many
    // left. After kWantWrite the next call must offer at least the bytes
    // it offered before.
    long Write(const char* data, size_t len);
    // count bytes of file from offset, through the kernel when it encrypts
    // this session's records; else read and written in large records.
    long SendFile(const File& file, uint64_t offset, size_t count);
    // Sends close_notify once, without waiting for the peer's. True once it
    // has been sent (or the session is past sending anything).
    bool ShutDown();
    // For an answer of many records: until Flush, records gather in a
    // buffer of seven full ones (a 100 KiB answer and its head) and leave
    // in one send when it fills, instead of one send each. Only records
    // wait there, never more than the buffer holds, and their text counts
    // as sent by Write and SendFile: the answer has left only once Flush
    // says so. False when the records go out as they are made (kernel
    // TLS).
    bool Gather();
    // Sends what gathered and goes back to one send per record: 1 when all
    // has left (or nothing gathered), kWantWrite, kFailed.
    long Flush();

    // Bytes the session holds and no poll will report: plain text decrypted
    // and not read yet, or records read ahead from the socket and not
    // opened yet (perhaps only part of one: a read then asks for more).
    bool Pending() const;
    // The handshake has completed.
    bool Established() const;
    // The last kWantRead / kWantWrite was for a write during a read or the
    // other way round: what the caller must poll for now.
    bool WantsWrite() const { return wantsWrite_; }
    // The session resumed an earlier one (a ticket was accepted).
    bool Resumed() const;
    // Records are encrypted by the kernel (sends go by sendfile).
    bool KernelSend() const;

private:
    long Result(int ret, bool reading);
    void* ssl_ = nullptr;
    // Where records go without kernel TLS (null with it); freed after the
    // session, whose BIO writes into it.
    std::unique_ptr<TLSOutput> out_;
    bool wantsWrite_ = false;
    bool handshaking_ = true;  // no request has been read yet
};

}  // namespace platform
