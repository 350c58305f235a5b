#include "pipeline/AnswerMemo.h"

#include <cstring>

#include "config/HTTPConfiguration.h"
#include "http/Dates.h"
#include "http/FileCache.h"
#include "http/HTTPRequest.h"
#include "http/HTTPResponse.h"
#include "net/Connection.h"
#include "pipeline/MethodHandlers.h"
#include "platform/Clock.h"
#include "server/HTTPServer.h"

bool AnswerMemo::Replay(Connection& connection, uint64_t configVersion, platform::Reply* reply) {
    if (!kept_) return false;
    InputBuffer& input = connection.Input();
    const std::string_view bytes = input.Bytes();
    if (bytes.size() < head_.size() || std::memcmp(bytes.data(), head_.data(), head_.size()) != 0) return false;
    Socket& s = connection.Tcp();
    if (s.Secure() != secure_ || configVersion != configVersion_ ||
        server_.Overloaded.load(std::memory_order_relaxed) || !server_.Available.load(std::memory_order_relaxed))
        return false;
    if (cache_.Version() != cacheVersion_) {
        Forget();
        return false;
    }
    const std::string* peer = s.PeerText();
    if (!peer) return false;
    const int64_t now = platform::UnixTimeNow();
    if (now != second_) {
        const std::string& date = gm_timestr_822(static_cast<long>(now));
        if (date.size() != dateSize_) {
            Forget();
            return false;
        }
        std::memcpy(answer_.data() + dateAt_, date.data(), date.size());
        second_ = now;
    }

    input.Consume(head_.size());
    connection.SetHeadProgress(0);
    reply->Clear();
    reply->head.assign(answer_);
    reply->shared = shared_;
    reply->file = file_;
    reply->fileOffset = fileOffset_;
    reply->fileCount = fileCount_;

    server_.Statistics.Count(received_, sent_, method_, 200, false);
    if (accessLine_) {
        if (*peer != leadPeer_) {
            lead_.clear();
            HTTPServer::AppendAccessLead(&lead_, *peer, {});
            leadPeer_ = *peer;
        }
        std::string& line = *server_.AccessLog.BatchLines(&batch_);
        line += lead_;
        line += LogTime();
        line += tail_;
    }
    if (!referrerLine_.empty()) server_.ReferrerLog.Log(referrerLine_, &batch_);
    return true;
}

void AnswerMemo::Note(std::string_view head, const HTTPRequest& request, const HTTPConfiguration& config) {
    candidate_ = false;
    // A head the client's end cut short, with no blank line, could be the
    // start of a longer one.
    const bool ended = head.ends_with("\n\n") || head.ends_with("\n\r\n");
    const bool plain = ended && head.size() <= kLongestHead && request.Valid &&
                       (request.Method == MethodGET || request.Method == MethodHEAD) &&
                       (request.Protocol == HTTP10 || request.Protocol == HTTP11) &&
                       request.Fault == HeadFault::None && !request.BadFraming && !request.URLTooLong &&
                       !request.BodyDeclared() && request.Expect.empty() && request.MalformedLines == 0 &&
                       request.Header[Hdr::Authorization].empty() && request.Header[Hdr::Range].empty() &&
                       request.Header[Hdr::IfRange].empty() && !config.ResolveName &&
                       !(config.AutoCertificate && !request.Secure) &&
                       !(config.UseTLS && config.RedirectToTLS && !request.Secure);
    // What the request decides: no credentials to check, no part of the
    // document, no body, nothing that turns on the client's address or on
    // the moment. The answer decides the rest (Keep).
    if (!plain) return;
    if (head != lastHead_) {
        lastHead_.assign(head);
        return;
    }
    candidate_ = true;
    directBefore_ = cache_.DirectLooks();
}

void AnswerMemo::Keep(HTTPRequest& request, HTTPResponse& response, const platform::Reply& reply,
                      const HTTPConfiguration& config, uint64_t configVersion) {
    if (!candidate_) return;
    candidate_ = false;
    if (cache_.DirectLooks() != directBefore_ || response.Status != 200 || !response.KeepAlive || response.Raw ||
        request.ResourceKind != ResourceDocument || !request.User.empty() || !request.RemoteHost.empty() ||
        IsParsedPage(config, response) || !reply.text.empty() || reply.Sent() != 0 || reply.head.empty())
        return;
    constexpr std::string_view kDate = "\r\nDate: ";
    const size_t date = reply.head.find(kDate);
    if (date == std::string::npos) return;
    const size_t dateAt = date + kDate.size();
    const size_t dateEnd = reply.head.find("\r\n", dateAt);
    if (dateEnd == std::string::npos) return;

    Forget();
    head_ = lastHead_;
    secure_ = request.Secure;
    configVersion_ = configVersion;
    cacheVersion_ = cache_.Version();
    answer_ = reply.head;
    dateAt_ = dateAt;
    dateSize_ = dateEnd - dateAt;
    second_ = -1;
    shared_ = reply.shared;
    file_ = reply.file;
    fileOffset_ = reply.fileOffset;
    fileCount_ = reply.fileCount;
    method_ = request.Method;
    // As the request's own count took them.
    received_ = request.Entity.GetSize();
    sent_ = response.Entity.GetSize();
    accessLine_ = config.AccessLogMask != 0;
    leadPeer_.clear();
    lead_.clear();
    tail_.clear();
    if (accessLine_) {
        HTTPServer::AppendAccessTail(&tail_, request, response);
        tail_ += "\r\n";
        HTTPServer::AppendAccessLead(&lead_, request.RemoteAddr, {});
        leadPeer_ = request.RemoteAddr;
    }
    referrerLine_ = HTTPServer::ReferrerLine(config, request);
    kept_ = true;
}

void AnswerMemo::Forget() {
    kept_ = false;
    shared_.reset();
    file_.reset();
}
