// Feeds arbitrary bytes to the request reader through a real loopback
// connection, the way a client would: sometimes all at once, sometimes in
// pieces from another thread so that lines and bodies arrive split at
// random points. The bytes are read as the event loops read them: a head
// once it has arrived whole, one too long for the buffer as a worker reads
// it. Every request found on the connection is read (pipelining,
// bodies, header blocks) and normalised as the pipeline would; a body read
// whole has exactly its declared length, one whose framing was refused is
// never read, and a head broken off leaves the connection out of step.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

#include "http/HTTPRequest.h"
#include "net/Socket.h"
#include "tests/support/Loopback.h"

namespace {

struct Listener {
    Listener() : socket(0, 1) {
        socket.Listen(16);
        SocketAddress name;
        socket.GetName(&name);
        port = name.port;
        // Bodies become temporary files; keep them out of the way.
        ::setenv("TMPDIR", "/tmp", 0);
    }
    Socket socket;
    int port = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Listener listener;
    if (size == 0) return 0;
    const uint8_t mode = data[0];
    const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);

    testing_support::RawClient client(listener.port);
    std::unique_ptr<Socket> server = listener.socket.Accept();
    if (!client.IsOpen() || !server) return 0;

    std::thread writer;
    if (mode & 1) {
        writer = std::thread([&client, &bytes, mode] {
            size_t chunk = 1 + (mode >> 1) % 13;
            for (size_t at = 0; at < bytes.size(); at += chunk) {
                client.Send(bytes.substr(at, chunk));
                std::this_thread::yield();
                chunk = 1 + (chunk * 7 + 3) % 29;
            }
            client.ShutdownWrite();
        });
    } else {
        client.Send(bytes);
        client.ShutdownWrite();
    }

    for (int pass = 0; pass < 8;) {
        HTTPRequest request;
        request.TimeOut = 200;
        // As an event loop reads: what has arrived, once the head is whole;
        // a head too long for the buffer is read on as a worker reads it.
        const HTTPRequest::Arrival arrival = request.ReadArrived(server.get(), 200);
        if (arrival == HTTPRequest::Arrival::Failed) break;
        if (arrival == HTTPRequest::Arrival::Partial) {
            if (!server->ReadReady(200)) break;
            const long n = server->ReceiveMore();
            if (n == 0) break;
            if (n > 0 || server->LastError != 10055) continue;
            if (!request.Read(server.get(), 200, 0)) break;
        }
        ++pass;
        NormalisePath(&request.URL);
        // A body is read as a request that uses it would; a length that is
        // not sound is never read.
        if (request.Fault != HeadFault::None && !(request.BadFraming && request.InputLeft())) std::abort();
        if (request.BadFraming && request.BodyDeclared() && request.ReadBody() != 0) std::abort();
        if (!request.BadFraming && request.ReadBody() == 1 && request.BodyDeclared() &&
            request.Entity.GetSize() != request.BodyLength)
            std::abort();
        if (request.Protocol == HTTP09 || request.InputLeft() || !server->ReadReady(0)) break;
    }
    if (writer.joinable()) writer.join();
    return 0;
}
