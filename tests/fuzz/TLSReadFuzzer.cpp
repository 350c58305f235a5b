// Feeds arbitrary bytes through the server's TLS read path over a real
// loopback connection. A client (the same library, over memory buffers)
// completes a handshake with a server Socket that speaks TLS; then the
// input is sent as application data in records of sizes the input chooses,
// the record stream is cut into TCP pieces of other sizes, and the server
// reads it with buffers of yet other sizes. Checked: the bytes read are
// exactly the bytes sent. With the top bit of the first byte the record
// stream is damaged at a place the input chooses instead: the server must
// then fail the connection (never crash, never hand out damaged bytes).
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "net/Socket.h"
#include "platform/NetCalls.h"
#include "platform/TLSContext.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

struct Fixture {
    std::shared_ptr<platform::TLSContext> server;
    SSL_CTX* client = nullptr;
    Socket listener{0, 1};
    int port = 0;
    Fixture() {
        const std::string folder = std::filesystem::temp_directory_path() / "varevavo-tls-fuzz";
        std::filesystem::create_directories(folder);
        std::string fingerprint, error;
        Check(platform::TLSContext::MakeSelfSigned(folder + "/c.pem", folder + "/k.pem", {"localhost"},
                                                   &fingerprint, &error));
        server = platform::TLSContext::Load(folder + "/c.pem", folder + "/k.pem", &error);
        Check(server != nullptr);
        client = SSL_CTX_new(TLS_client_method());
        listener.Listen(5);
        SocketAddress name;
        listener.GetName(&name);
        port = name.port;
    }
};

// The bytes the client's library has written, sent to the server in pieces
// of the sizes cuts gives (each at least 1).
void Pump(BIO* out, Socket& to, std::string_view cuts, size_t* at) {
    char buffer[65536];
    int n;
    while ((n = BIO_read(out, buffer, sizeof buffer)) > 0) {
        for (int sent = 0; sent < n;) {
            const int piece = cuts.empty() ? n : 1 + static_cast<unsigned char>(cuts[(*at)++ % cuts.size()]) * 7;
            const int len = std::min(piece, n - sent);
            Check(to.Send(buffer + sent, len, 2000) == len);
            sent += len;
        }
    }
}

// What the server sent, into the client's library.
void Deliver(Socket& from, BIO* in) {
    char buffer[65536];
    long n;
    while ((n = from.ReceiveNow(buffer, sizeof buffer)) > 0) BIO_write(in, buffer, static_cast<int>(n));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Fixture fixture;
    if (size < 2) return 0;
    const uint8_t mode = data[0];
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    Socket client(0, 1);
    Check(client.Connect("127.0.0.1", static_cast<short>(fixture.port), 2000) == 0);
    std::unique_ptr<Socket> server = fixture.listener.Accept();
    Check(server && server->StartTLS(*fixture.server));
    // Pieces leave at once: no wait for acknowledgements between them.
    client.SetNoDelay(1);
    server->SetNoDelay(1);

    SSL* ssl = SSL_new(fixture.client);
    BIO* in = BIO_new(BIO_s_mem());
    BIO* out = BIO_new(BIO_s_mem());
    SSL_set_bio(ssl, in, out);
    SSL_set_connect_state(ssl);
    size_t at = 0;
    char scratch[512];
    for (int round = 0; round < 50 && !(SSL_is_init_finished(ssl) && server->Established()); ++round) {
        SSL_do_handshake(ssl);
        Pump(out, client, {}, &at);
        server->ReceiveNow(scratch, sizeof scratch);  // drives the server's handshake
        Check(client.ReadReady(2000) || server->Established());
        Deliver(client, in);
    }
    Check(SSL_is_init_finished(ssl) && server->Established());

    // The input as application data, in records of sizes it chooses.
    const size_t damageAt = (mode & 0x80) ? (static_cast<size_t>(mode & 0x7f) * 37) % (input.size() + 5) : SIZE_MAX;
    for (size_t sent = 0; sent < input.size();) {
        const size_t record = 1 + static_cast<unsigned char>(input[sent]) * (1 + (mode & 7)) * 11;
        const size_t len = std::min(record, input.size() - sent);
        Check(SSL_write(ssl, input.data() + sent, static_cast<int>(len)) == static_cast<int>(len));
        sent += len;
    }
    std::string stream(static_cast<size_t>(BIO_ctrl_pending(out)), '\0');
    BIO_read(out, stream.data(), static_cast<int>(stream.size()));
    if (damageAt < stream.size()) stream[damageAt] ^= 0x5a;
    for (size_t sent = 0; sent < stream.size();) {
        const size_t piece = 1 + static_cast<unsigned char>(input[sent % input.size()]) * 13;
        const size_t len = std::min(piece, stream.size() - sent);
        Check(client.Send(stream.data() + sent, static_cast<int>(len), 2000) == static_cast<int>(len));
        sent += len;
    }
    // A damaged length may leave the server waiting for bytes that never
    // come: the end of the stream ends that wait.
    if (damageAt < stream.size()) client.ShutDown(Socket::kShutSend);

    std::string got;
    char buffer[20000];
    bool failed = false;
    for (size_t read = 0; got.size() < input.size(); ++read) {
        const size_t len = 1 + (read * 131 + mode) % sizeof buffer;
        const long n = server->ReceiveNow(buffer, len);
        if (n > 0) {
            got.append(buffer, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && server->LastError == platform::net::WSAEWOULDBLOCK) {
            if (!server->ReadReady(2000)) break;
            continue;
        }
        failed = true;
        break;
    }
    // Undamaged: every byte, in order. Damaged: the bytes handed out before
    // the failure are a true start of what was sent, and it does fail.
    Check(input.substr(0, got.size()) == got);
    if (damageAt < stream.size()) Check(failed);
    else Check(got == input);

    SSL_free(ssl);
    ERR_clear_error();
    server->Close();
    client.Close();
    return 0;
}
