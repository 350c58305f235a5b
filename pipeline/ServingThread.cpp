#include "pipeline/ServingThread.h"

#include "server/RequestContext.h"

ServingThread::ServingThread(HTTPServer& server, bool loop) {
    if (!loop) return;
    cache_ = std::make_unique<FileCache>();
    batch_ = std::make_unique<EventLog::Batch>();
    memo_ = std::make_unique<AnswerMemo>(server, *cache_, *batch_);
}

// The batch goes first, on its own: it writes what it keeps.
ServingThread::~ServingThread() { batch_.reset(); }

const HTTPConfiguration& ServingThread::Pin(const HTTPServer& server) {
    const HTTPConfiguration& config = server.Pin(&record_);
    types_.Bind(record_.record);
    return config;
}

void ServingThread::Equip(RequestContext* context) {
    context->cache = cache_.get();
    context->types = &types_;
    context->logBatch = batch_.get();
}

void ServingThread::BatchStarting(bool changesPolled) {
    if (cache_ && !changesPolled) cache_->BeginBatch();
}

void ServingThread::WriteLogLines() {
    if (batch_) batch_->Flush();
}

ServingThread::Exchange& ServingThread::LoopExchange() {
    if (!exchange_) exchange_ = std::make_unique<Exchange>();
    return *exchange_;
}
