#pragma once
// What the connection core (net/) asks of the server that runs it, and the
// events of the core it tells the server. net/ knows nothing above itself:
// the server implements this interface and decides what an event means
// above the core (for a front end, a notice through the server's
// ShellLink, the one way the front end hears of the server).
//
// The core calls it from its loop threads, which must never block, and
// from its worker threads, which may; every call may come from several
// threads at once.

#include <memory>
#include <string>

class Connection;
namespace platform {
class Reply;
}  // namespace platform

class ConnectionHost {
public:
    virtual ~ConnectionHost() = default;

    // What the host keeps for one thread of the core (a loop's document
    // cache and log lines, what a thread remembers between requests): made
    // when the thread starts, handed back with every call that thread makes
    // for serving, and used by that thread alone.
    class ThreadState {
    public:
        virtual ~ThreadState() = default;
    };

    // The settings the core reads, as they are now. Time-outs in ms.
    struct Settings {
        int port = 80;
        int numThreads = 16;              // slots in the pool (held to 8..512 by the core)
        unsigned long recvTimeOut = 45000;  // a line of a request head, a pause in its body
        unsigned long sendTimeOut = 45000;  // a pause while sending an answer
        unsigned long keepAlive = 10000;    // the wait for the next request on a kept connection
        bool reportOverload = false;        // log "Server Overloaded" when a connection finds no slot
        unsigned long scriptTimeOut = 0;    // a script's run, and the longest wait for one (0: no limit)
        std::string bindAddress;            // where the port listens (see Socket): empty, every address
        int tlsPort = 0;                    // the TLS port; 0: none is opened
    };
    virtual Settings CoreSettings() const = 0;

    // False while new connections are to be closed unserved.
    virtual bool AcceptsConnections() const = 0;
    // The pool's overload state, set at every hand-over of a connection.
    virtual void SetOverloaded(bool overloaded) = 0;
    // A connection found no slot and was closed unanswered.
    virtual void ReportOverload() = 0;
    // New connections cannot be accepted for want of descriptors or memory
    // (error: 10024 or 10055); said once per shortage. They wait in the
    // listener's queue until some are free.
    virtual void ReportAcceptFailure(int error) = 0;
    // A connection took a slot or ended, or the pool was set up: the count
    // of busy slots may have changed. Called often, from every thread of
    // the core; it must only post, never wait.
    virtual void SlotsChanged() = 0;
    // An answer has left, sent by a loop thread or by ServeBlocking on a
    // worker. The same rule: post, never wait.
    virtual void AnswerSent() = 0;

    // What a host keeps with a connection between its calls (Connection::
    // Park): a request read and not served yet. The core only holds it, and
    // destroys it with the connection.
    class Parked {
    public:
        virtual ~Parked() = default;
    };

    // What the host made of the bytes buffered on a connection.
    enum class Step {
        Incomplete,      // no whole request head yet: wait for more bytes
        IncompleteBody,  // the head is whole but its body is not: wait for more bytes
        Answer,          // answered: send the reply
        Worker,          // must be served where blocking is allowed (ServeBlocking)
        Script,          // as Worker, waiting on nothing but a script: the head and any body are here
        Drop,            // unreadable: close without an answer
    };
    // How a connection goes on after an answer.
    enum class After {
        KeepAlive,  // wait for another request
        Close,      // answered without keep-alive: shut down in order, then close
        // Answered without keep-alive while the client may still be sending
        // (a body left unread, a pipelined request): closing now would reset
        // the connection and could destroy the answer before it is read. The
        // sending side is shut, what arrives is dropped for a short while
        // (until the client closes), then the connection is closed.
        Linger,
        Drop,  // not read, refused, or the answer failed: close
    };

    // The calls below that take thread are given the calling thread's own
    // state, as ThreadStarting made it.
    //
    // On a loop thread (never blocks): reads the request at the start of
    // the connection's input (or takes the one parked on it) and serves it
    // when it can be answered at once. With Answer, *reply holds the answer
    // and *after how the connection goes on once it has left (KeepAlive,
    // Close or Linger). The host consumes the input it has read; with
    // IncompleteBody, Worker and Script it parks the request it read on the
    // connection, so that it is never read twice. When the input has ended
    // (Connection::InputEnded) the host makes what it can of the bytes
    // there and never says Incomplete. turnAway: the core has no room for
    // the request; it is answered at once as when the server is overloaded.
    virtual Step Serve(ThreadState* thread, Connection& connection, platform::Reply* reply, After* after,
                       bool turnAway) = 0;
    // On a worker thread (may block): serves the request parked on the
    // connection (or turns it away, as Serve), receiving its body when it
    // uses one, and sends the answer. Anything but Drop means the answer
    // has left (the core then tells AnswerSent).
    virtual After ServeBlocking(ThreadState* thread, Connection& connection, bool turnAway) = 0;

    // A loop thread is about to serve a batch of requests, every byte of
    // which was received before this call. changesPolled: the loop's poll
    // has reported every change of ChangeHandle up to its last wait, which
    // came after those bytes, and ChangesArrived has been told of them.
    virtual void BatchStarting(ThreadState* thread, bool changesPolled) = 0;
    // A descriptor of a loop thread's state that becomes readable when what
    // its answers depend on changes (its documents), for the loop to poll;
    // -1 for none.
    virtual int ChangeHandle(ThreadState* thread) = 0;
    // The loop's poll found ChangeHandle readable.
    virtual void ChangesArrived(ThreadState* thread) = 0;
    // A loop thread writes the log lines it has kept: once it has sent the
    // answers of a batch and before it closes the connections that end,
    // closes a connection it refused, or waits again.
    virtual void WriteLogLines(ThreadState* thread) = 0;
    // A thread of the core starts (loop: a loop thread, else a worker): its
    // state, which the thread keeps until it ends, then hands to
    // ThreadEnding.
    virtual std::unique_ptr<ThreadState> ThreadStarting(bool loop) = 0;
    virtual void ThreadEnding(std::unique_ptr<ThreadState> thread) = 0;
};
