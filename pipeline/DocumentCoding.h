#pragma once
// How a document goes out: as it is, as a precompressed copy that sits
// beside it, or compressed once and kept in the serving thread's cache.
// The choice follows the client's Accept-Encoding; each form has its own
// entity tag, so no cache takes one for another.

#include <string>

#include "http/ContentCoding.h"

struct RequestContext;

struct DocumentCoding {
    Coding coding = Coding::Identity;  // what the body now holds
    // The answer depends on Accept-Encoding (Vary): the document has a
    // fresh precompressed copy, or would be compressed for a client that
    // asks for it.
    bool varies = false;

    // For the document body of c's response (EntityFile, the request's
    // PhysicalPath) of contentType: chooses the coding and, for any but
    // Identity, replaces the body. A copy beside the document (the name
    // with ".zst", ".br" or ".gz") is used when its time is not older than
    // the document's, and then only copies are offered. Without one, a
    // compressible document between kSmallest and kLargest bytes is
    // compressed when the setup has Compression, the thread has a cache to
    // keep the result in, and the request asks for no byte range (the
    // range would be one of bytes a client cannot check). The entity tag
    // of the body as sent goes into the response's ETag header, which is
    // left empty when the file cannot be opened.
    static DocumentCoding Choose(RequestContext& c, const std::string& contentType);

    // A page the server made for this answer (a listing, a parsed page) is
    // compressed for a client that takes a coding, when the setup has
    // Compression and it is compressible and between kSmallest and kLargest
    // bytes: it is made anew for every request anyway. Sets
    // Content-Encoding, Content-Length and Vary. Anything else of c's
    // response (documents, scripts' output, status pages) stays as it is.
    static void CompressGenerated(RequestContext& c);

    static constexpr uint64_t kSmallest = 1024;
    static constexpr uint64_t kLargest = 8u << 20;
};
