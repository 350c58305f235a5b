#pragma once
// The last answer a loop thread gave to a request for a document, kept so
// that the very same request (byte for byte, as clients that fetch a page
// again send it) is answered again without being parsed, mapped, looked up
// and composed anew. Most of a small document's cost is that work, not its
// bytes.
//
// It is answered again only while nothing it was made from can have
// changed: the same configuration record, a document cache that changed in
// nothing (every fact the answer used came from it; a lookup the file
// system answered instead leaves the answer unkept), the server taking
// requests, and the same scheme. What varies by the moment goes in afresh:
// the Date header, the access line's time and address, the statistics.
// Kept only for a GET or HEAD of a document answered 200 and kept alive,
// with no credentials, no range, no body, no expectation, and seen twice in
// a row, so that a stream of different requests costs a compare each.
//
// One per loop thread, used by that thread alone, with its document cache
// and its batch of log lines.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Reply.h"
#include "server/EventLog.h"

class Connection;
class FileCache;
class HTTPRequest;
class HTTPResponse;
class HTTPServer;
class HTTPConfiguration;
namespace platform {
class File;
}

class AnswerMemo {
public:
    // The longest head kept.
    static constexpr size_t kLongestHead = 2048;

    AnswerMemo(HTTPServer& server, FileCache& cache, EventLog::Batch& batch)
        : server_(server), cache_(cache), batch_(batch) {}

    // When the request at the front of connection's input is the one kept
    // and the answer still holds under the settings record of configVersion:
    // takes the request's bytes, composes the answer into *reply, counts it
    // and writes its log lines into the batch, and returns true (the
    // connection is kept alive after it). Else false, with nothing changed.
    bool Replay(Connection& connection, uint64_t configVersion, platform::Reply* reply);

    // A request was just parsed from head (its bytes): notes whether its
    // answer may be kept.
    void Note(std::string_view head, const HTTPRequest& request, const HTTPConfiguration& config);
    // The request Note saw was answered with response, composed into reply,
    // under the settings record of configVersion: keeps it when it may be
    // given again.
    void Keep(HTTPRequest& request, HTTPResponse& response, const platform::Reply& reply,
              const HTTPConfiguration& config, uint64_t configVersion);

    // Lets go of the kept answer (and the document it holds).
    void Forget();

private:
    HTTPServer& server_;
    FileCache& cache_;
    EventLog::Batch& batch_;

    bool kept_ = false;
    // The last head Note saw (the second time in a row makes a candidate).
    std::string lastHead_;
    bool candidate_ = false;
    uint64_t directBefore_ = 0;

    // The kept request and answer.
    std::string head_;
    bool secure_ = false;
    uint64_t configVersion_ = 0;
    uint64_t cacheVersion_ = 0;
    std::string answer_;  // the head of the answer; its Date value at dateAt_
    size_t dateAt_ = 0;
    size_t dateSize_ = 0;
    int64_t second_ = -1;  // the second answer_'s Date tells
    std::shared_ptr<const std::string> shared_;
    std::shared_ptr<const platform::File> file_;
    uint64_t fileOffset_ = 0;
    uint64_t fileCount_ = 0;
    // What is counted and logged for it.
    int method_ = 0;
    uint64_t received_ = 0;
    uint64_t sent_ = 0;
    bool accessLine_ = false;
    std::string lead_;      // the access line before its time, for leadPeer_
    std::string leadPeer_;  // the address lead_ names
    std::string tail_;      // the access line after its time, with its line end
    std::string referrerLine_;
};
