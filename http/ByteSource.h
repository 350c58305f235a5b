#pragma once
// Where a request body comes from: the bytes a client sends after its head.
// The message model reads through it without knowing what carries them (a
// connection, or a test's string).

#include <cstddef>

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Up to len bytes into buffer, waiting at most timeout (milliseconds)
    // for some to arrive. Bytes received; 0 when the sender has closed; -1
    // on failure or time-out.
    virtual long ReceiveSome(char* buffer, size_t len, unsigned long timeout) = 0;
    // The client waits for a go-ahead ("100 Continue") before it sends the
    // body: give it, unless the body has begun to arrive. False when it
    // could not be sent. A source with no client to tell has nothing to do.
    virtual bool Continue() { return true; }
};
