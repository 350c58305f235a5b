#include "pipeline/DocumentCoding.h"

#include "config/HTTPConfiguration.h"
#include "http/FileCache.h"
#include "http/HTTPRequest.h"
#include "http/HTTPResponse.h"
#include "platform/File.h"
#include "server/RequestContext.h"

namespace {

// The codings of which a copy beside the document body at path is a file
// no older than the document (lastWrite). The cache found the copies when
// it opened the document; only without one are they looked up here.
unsigned FreshSiblings(FileCache* cache, const HTTPEntity& body, const std::string& path, const FILETIME& lastWrite) {
    unsigned siblings = 0;
    if (!body.KnownSiblings(&siblings)) siblings = PrecompressedSiblings(cache, path);
    unsigned fresh = 0;
    for (const Coding coding : ContentCoding::kPreference) {
        if (!(siblings & ContentCoding::Bit(coding))) continue;
        platform::FileInfo info;
        if (LookupFileInfo(cache, path + std::string(ContentCoding::Suffix(coding)), &info) && !info.directory &&
            platform::FileTimeTicks(info.lastWrite) >= platform::FileTimeTicks(lastWrite))
            fresh |= ContentCoding::Bit(coding);
    }
    return fresh;
}

// The entity tag of the open document body with facts into *tag (which
// keeps its storage): the one its cache made, or made now.
void TagOf(const HTTPEntity& body, const platform::FileInfo& facts, std::string* tag) {
    if (const std::string* made = body.CachedTag()) *tag = *made;
    else *tag = ContentCoding::EntityTag(facts);
}

constexpr unsigned kEveryCoding = ContentCoding::Bit(Coding::Gzip) | ContentCoding::Bit(Coding::Brotli) |
                                  ContentCoding::Bit(Coding::Zstd);

}  // namespace

DocumentCoding DocumentCoding::Choose(RequestContext& c, const std::string& contentType) {
    HTTPRequest* request = c.request;
    HTTPEntity& body = c.response->Entity;
    DocumentCoding result;
    // Written in place: the header keeps its storage from answer to answer.
    std::string& tag = c.response->Header[Hdr::ETag];
    tag.clear();
    platform::FileInfo facts;
    if (!body.FileFacts(&facts)) return result;
    TagOf(body, facts, &tag);
    // The body's name goes with the body when it is replaced.
    const std::string& name = body.FileName();
    const unsigned fresh = FreshSiblings(c.cache, body, name, facts.lastWrite);
    const std::string& accept = request->Header[Hdr::AcceptEncoding];
    // A client that names no coding gets the document as it is; only a
    // copy beside it says that others may get something else.
    result.varies = fresh != 0;
    if (accept.empty()) return result;
    const bool compressible = c.config.Compression && facts.size >= kSmallest && facts.size <= kLargest &&
                              ContentCoding::IsCompressible(contentType);
    result.varies = result.varies || compressible;
    const bool onTheFly = compressible && c.cache && request->Header[Hdr::Range].empty();
    const Coding coding = ContentCoding::Choose(accept, fresh ? fresh : onTheFly ? kEveryCoding : 0);
    if (coding == Coding::Identity) return result;

    if (fresh) {
        const std::string path = name;
        body.SetFile(path + std::string(ContentCoding::Suffix(coding)), nullptr, c.cache);
        platform::FileInfo copy;
        if (!body.FileFacts(&copy)) {
            // Gone in between: the document itself goes out.
            body.SetFile(path, nullptr, c.cache);
            return result;
        }
        TagOf(body, copy, &tag);
    } else {
        auto coded = c.cache->Coded(name, coding, body.OpenedFile());
        if (!coded) return result;
        body.SetShared(std::move(coded));
        tag = ContentCoding::EntityTag(facts, coding);
    }
    result.coding = coding;
    return result;
}

void DocumentCoding::CompressGenerated(RequestContext& c) {
    HTTPRequest* request = c.request;
    HTTPResponse* response = c.response;
    HTTPEntity& body = response->Entity;
    const std::string& accept = request->Header[Hdr::AcceptEncoding];
    // A document has a tag (and its coding, if any, already); a script's
    // output is the script's to code.
    if (!c.config.Compression || accept.empty() || response->Status != 200 || response->Raw ||
        request->ResourceKind != ResourceDocument || !response->Header[Hdr::ETag].empty() ||
        !response->Header[Hdr::ContentEncoding].empty() || (body.Type() != EntityTemp && body.Type() != EntityData) ||
        !ContentCoding::IsCompressible(response->Header[Hdr::ContentType]))
        return;
    const uint64_t size = body.GetSize();
    if (size < kSmallest || size > kLargest) return;
    response->Header[Hdr::Vary] = "Accept-Encoding";
    const Coding coding = ContentCoding::Choose(accept, kEveryCoding);
    if (coding == Coding::Identity) return;
    std::string read;
    if (body.Type() == EntityTemp) {
        const platform::File* file = body.OpenedFile();
        read.resize(static_cast<size_t>(size));
        if (!file || file->ReadAt(body.Offset(), read.data(), read.size()) != static_cast<long>(size)) return;
    }
    const std::string_view page = body.Type() == EntityTemp ? std::string_view(read) : std::string_view(body.Data());
    std::string coded;
    if (!platform::Compress(coding, page, &coded) || coded.size() >= page.size()) return;
    response->Header[Hdr::ContentLength] = std::to_string(coded.size());
    response->Header[Hdr::ContentEncoding] = ContentCoding::Name(coding);
    body.SetData(std::move(coded));
}
