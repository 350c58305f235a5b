#pragma once
// Test support: a TLS client over loopback, made with the same library the
// server uses, to talk to the server's TLS port. Every wait is bounded by
// a deadline; failures come back as false or empty text.

#include <memory>
#include <string>
#include <vector>

namespace testing_support {

class TLSClient {
public:
    // Verifies the server's certificate against caFile (a PEM file, with
    // the name "localhost") when one is given; else takes any certificate.
    explicit TLSClient(const std::string& caFile = "");
    ~TLSClient();
    TLSClient(const TLSClient&) = delete;
    TLSClient& operator=(const TLSClient&) = delete;

    // Connects to 127.0.0.1:port and completes the handshake, offering the
    // session Save kept when resume is set. False on failure (with Error).
    bool Connect(int port, bool resume = false);
    // Offers nothing newer than TLS 1.2 from the next Connect on.
    void LimitToTLS12();
    bool Send(const std::string& bytes);
    // Each piece in a record of its own, all the records in one write of
    // the socket, so that they reach the server together.
    bool SendRecords(const std::vector<std::string>& pieces);
    // Everything until the server closes (or the deadline passes).
    std::string ReadAll(int timeoutMs = 5000);
    // At least count bytes, unless the server closes or the deadline
    // passes first: for an answer on a connection that stays open.
    std::string Read(size_t count, int timeoutMs = 5000);
    // Keeps the session the server offered, for a later Connect.
    void Save();

    bool Resumed() const;
    std::string Protocol() const;     // "TLSv1.3"
    std::string ALPN() const;         // the protocol ALPN chose, or empty
    std::string Fingerprint() const;  // SHA-256 of the server's certificate, as the server logs it
    const std::string& Error() const { return error_; }

private:
    struct State;
    std::unique_ptr<State> state_;
    std::string error_;
};

// Sends request over a fresh TLS connection to port, and returns what came
// back until the server closed.
std::string TLSExchange(int port, const std::string& request, int timeoutMs = 5000);

}  // namespace testing_support
