#pragma once
// What an event loop asks of the listener that owns it: a slot for a
// connection it accepted, the loop to pass that connection on to, the
// workers for requests that may block, and the end of a connection. The
// listener implements it; a loop needs nothing else of the listener.

#include <memory>

class Connection;
class EventLoop;
class WorkerPool;
namespace platform {
class TLSContext;
}  // namespace platform

class LoopOwner {
public:
    virtual ~LoopOwner() = default;

    // Gives a new connection a slot. False: no slot, the caller closes the
    // connection unanswered.
    virtual bool HandOver(Connection* connection) = 0;
    // The loop holding the fewest connections.
    virtual EventLoop* LeastLoaded() = 0;
    virtual WorkerPool& Workers() = 0;
    // The connection gives up its slot to wait for its script apart from
    // the pool (see WorkerPool).
    virtual void LeaveSlot(Connection* connection) = 0;
    // Ends a connection: its slot is released, then it is shut down (when
    // orderly) and closed, and deleted.
    virtual void End(Connection* connection, bool orderly) = 0;
    // The certificate and key new TLS connections are made with now (null:
    // none loaded; such a connection is closed at once).
    virtual std::shared_ptr<platform::TLSContext> TLSNow() = 0;
};
