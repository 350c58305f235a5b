#pragma once
// A server's TLS configuration: one certificate chain with its private key,
// and the rules every connection made from it follows (TLS 1.2 and 1.3 only,
// forward-secret AEAD suites, no renegotiation, ALPN http/1.1, resumption by
// tickets whose keys rotate). Immutable once loaded: a reload makes a new
// context, and connections in flight keep the one they began with, since
// each session holds its own reference.
//
// Failures are results: Load gives null and says why in words for the
// error log.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

class TLSContext {
public:
    ~TLSContext();
    TLSContext(const TLSContext&) = delete;
    TLSContext& operator=(const TLSContext&) = delete;

    // Loads a full-chain PEM certificate and its PEM private key (host
    // paths). Null when either cannot be read or they do not match; *error
    // then says which and why.
    static std::shared_ptr<TLSContext> Load(const std::string& certificateFile, const std::string& keyFile,
                                            std::string* error);

    // Makes a self-signed pair: a P-256 key, the given names and addresses
    // as its subject alternative names (the first also as its common name),
    // valid for a year, signed with SHA-256. The key file is written mode
    // 0600. True on success with *fingerprint the certificate's SHA-256
    // fingerprint (hex pairs joined by colons); false with *error.
    static bool MakeSelfSigned(const std::string& certificateFile, const std::string& keyFile,
                               const std::vector<std::string>& names, std::string* fingerprint,
                               std::string* error);

    // Whether the kernel offers TLS to sockets (the "tls" upper layer is
    // available, or its module can be loaded); asked once per process.
    // Sessions then hand record encryption to the kernel and files go out
    // by sendfile; otherwise all of it happens here.
    static bool KernelTLS();
    // This machine's host name (empty when the system gives none), for the
    // names of a self-signed certificate.
    static std::string HostName();

    // The SHA-256 fingerprint of a certificate in DER form, as MakeSelfSigned
    // gives it; empty for bytes that are not one.
    static std::string Fingerprint(const std::string& der);
    // The validity of the first certificate of a PEM file (host path), in
    // seconds since 1970: when it begins and when it ends. False when the
    // file holds no certificate that can be read.
    static bool CertificateValidity(const std::string& certificateFile, int64_t* notBefore, int64_t* notAfter);
    // The certificate's SHA-256 fingerprint, as MakeSelfSigned gives it.
    const std::string& Fingerprint() const { return fingerprint_; }

    // The library's own context, for TLSSession.
    void* Native() const { return ctx_; }

private:
    TLSContext() = default;
    void* ctx_ = nullptr;
    std::string fingerprint_;
};

}  // namespace platform
