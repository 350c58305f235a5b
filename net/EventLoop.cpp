#include "net/EventLoop.h"

#include <algorithm>

#include "net/LoopOwner.h"
#include "net/ServerThread.h"
#include "net/Socket.h"
#include "net/WorkerPool.h"
#include "platform/Clock.h"
#include "platform/NetCalls.h"
#include "platform/Threads.h"

namespace {

namespace sys = platform::net;
using Poller = platform::net::Poller;

constexpr int kEventsPerWait = 64;
// The settings are read again this often (a reload changes the time-outs).
constexpr uint32_t kSettingsAge = 1000;
// New connections taken per wake of the listener, so that one loop does
// not take a whole burst while the others sleep.
constexpr int kAcceptsPerWake = 4;
// How long the listener rests when the process is out of descriptors.
constexpr unsigned long kListenerPause = 100;
// A loop that has been quiet this long gives back the memory it freed.
constexpr uint32_t kQuietTime = 2000;
// How long, and how much, a connection that lingers may still send.
constexpr unsigned long kLingerTime = 2000;
constexpr uint64_t kLingerBytes = 1 << 20;
// A send that moved more than this may have taken long (a reader as fast
// as the loop takes a whole large file in one call, seconds on a loaded
// machine): the timers that follow it run from when it ended.
constexpr uint64_t kLongSend = 1 << 20;

// The deadline of a timer started at start: never before it (the clock may
// wrap; deadlines are compared as differences).
uint32_t After(uint32_t start, unsigned long timeout) {
    return start + static_cast<uint32_t>(std::min<unsigned long>(timeout, 0x7fffffffUL));
}

bool Passed(uint32_t deadline, uint32_t now) { return static_cast<int32_t>(now - deadline) >= 0; }

}  // namespace

EventLoop::EventLoop(LoopOwner* owner, ConnectionHost* host, std::vector<Listening> listeners)
    : owner_(owner), host_(host), listeners_(std::move(listeners)) {
    poller_.Add(wake_.Handle(), Poller::Readable, &wake_);
    for (const Listening& l : listeners_) poller_.Add(l.socket->Handle, Poller::Readable | Poller::Exclusive, l.socket);
}

EventLoop::~EventLoop() = default;

void EventLoop::Stop() {
    stop_ = true;
    wake_.Signal();
}

bool EventLoop::Adopt(Connection* connection) {
    {
        std::lock_guard<std::mutex> guard(adoptLock_);
        if (stopped_) return false;
        adopted_.push_back(connection);
    }
    wake_.Signal();
    return true;
}

void EventLoop::Run() {
    InputBuffer::KeepSpare();
    Begin();
    Poller::Event events[kEventsPerWait];
    while (!stop_) {
        ApplyPriority();
        const int n = poller_.Wait(events, kEventsPerWait, NextTimeout(platform::MillisecondClock()));
        const uint32_t now = platform::MillisecondClock();
        // A wait that filled its events may have left the change report
        // for the next one.
        changesMissed_ = n == kEventsPerWait;
        TrimWhenQuiet(n > 0, now);
        RefreshSettings(now);
        Dispatch(events, n, now);
        FinishTurn();
    }
    EndAll();
}

void EventLoop::Begin() {
    thread_ = host_->ThreadStarting(true);
    // Changes to what the answers depend on are taken when the poll reports
    // them, rather than looked for with a read before every batch.
    const int changes = host_->ChangeHandle(thread_.get());
    changesPolled_ = changes >= 0 && poller_.Add(changes, Poller::Readable, &changesPolled_) == 0;
    settings_ = host_->CoreSettings();
    settingsRead_ = platform::MillisecondClock();
    // What start-up used and freed goes back once the loop has been quiet.
    lastActive_ = settingsRead_;
    trimDue_ = true;
}

void EventLoop::ApplyPriority() {
    if (const int priority = priority_; priority != appliedPriority_) {
        platform::SetThreadPriority(platform::CurrentThreadId(), priority);
        appliedPriority_ = priority;
    }
}

void EventLoop::TrimWhenQuiet(bool active, uint32_t now) {
    if (active) {
        lastActive_ = now;
        trimDue_ = true;
    } else if (trimDue_ && now - lastActive_ >= kQuietTime) {
        InputBuffer::DropSpare();
        platform::ReleaseFreeMemory();
        trimDue_ = false;
    }
}

void EventLoop::RefreshSettings(uint32_t now) {
    if (now - settingsRead_ < kSettingsAge) return;
    settings_ = host_->CoreSettings();
    settingsRead_ = now;
}

void EventLoop::Dispatch(const Poller::Event* events, int n, uint32_t now) {
    for (int i = 0; i < n; ++i) {
        const Poller::Event& e = events[i];
        if (e.tag == &wake_) {
            wake_.Clear();
            TakeAdopted(now);
        } else if (e.tag == &changesPolled_) {
            host_->ChangesArrived(thread_.get());
        } else if (!(reinterpret_cast<uintptr_t>(e.tag) & 1)) {  // a listener (connection tags are odd)
            for (const Listening& l : listeners_)
                if (e.tag == l.socket) Accept(l, now);
        } else {
            Connection* c = ConnectionOf(e.tag);
            if (!c) continue;  // late news of a connection that has ended
            // A TLS connection may wait for the other direction than its
            // phase suggests (a handshake sending while it reads); a plain
            // one only ever asks the poll for the one its phase needs.
            if (c->phase_ == Connection::Sending) {
                if (e.writable || e.readable || e.hangup) Send(c, now);
            } else if (e.readable || e.writable || e.hangup) {
                Receive(c, now);
            }
        }
    }
}

void EventLoop::FinishTurn() {
    ServeBatch();
    Expire(platform::MillisecondClock());
    if (listenerPaused_ && Passed(listenerResume_, platform::MillisecondClock())) ResumeListener();
    host_->WriteLogLines(thread_.get());
    FinishEndings();
    RegisterDue();
}

void EventLoop::EndAll() {
    // Every connection still here is reset, as a flush would.
    {
        std::lock_guard<std::mutex> guard(adoptLock_);
        stopped_ = true;
    }
    TakeAdopted(platform::MillisecondClock());
    for (int t = Connection::ReadTimer; t < Connection::TimerCount; ++t) {
        while (Connection* c = head_[t]) {
            c->Tcp().SetLinger(1, 0);
            End(c, false);
        }
    }
    host_->ThreadEnding(std::move(thread_));
}

void EventLoop::TakeAdopted(uint32_t now) {
    std::vector<Connection*> taken;
    {
        std::lock_guard<std::mutex> guard(adoptLock_);
        taken.swap(adopted_);
    }
    for (Connection* c : taken) {
        if (!c->welcomed_) {  // a new connection passed on by another loop
            load_.fetch_add(1, std::memory_order_relaxed);
            Welcome(c, now, false);
            continue;
        }
        // Back from a worker.
        if (!Register(c)) continue;
        if (c->after_ == ConnectionHost::After::Linger) Linger(c, now);
        else WaitForRequest(c, now);
    }
}

void EventLoop::Accept(const Listening& listener, uint32_t now) {
    for (int i = 0; i < kAcceptsPerWake; ++i) {
        std::unique_ptr<Socket> socket = listener.socket->Accept();
        if (!socket) {
            const int error = listener.socket->LastError;
            if (error == sys::WSAEMFILE || error == sys::WSAENOBUFS) PauseListener(now, error);
            return;
        }
        shortOfDescriptors_ = false;
        if (!host_->AcceptsConnections()) continue;
        if (listener.tls && !StartTLS(*socket)) continue;
        auto* c = new Connection(std::move(socket), this, now);
        if (!owner_->HandOver(c)) {
            host_->WriteLogLines(thread_.get());
            delete c;  // closed unanswered
            continue;
        }
        // Keep the loops even: a loop that holds more than its share passes
        // the connection on.
        EventLoop* target = owner_->LeastLoaded();
        if (target != this && target->Load() + 1 < Load()) {
            c->home_ = target;
            if (target->Adopt(c)) continue;
            c->home_ = this;
        }
        load_.fetch_add(1, std::memory_order_relaxed);
        // A client usually sends its request as soon as it has connected:
        // it is taken now, without waiting for the poll to report it.
        const size_t ready = ready_.size();
        if (Welcome(c, now, true)) Receive(c, now);
        // Only the first connection of a wake was there when the poll last
        // reported changes: a request that came on another may have been
        // sent after a change it has not reported yet. (A TLS connection
        // has none yet: its request follows the handshake.)
        if (i > 0 && ready_.size() > ready) changesMissed_ = true;
    }
}

bool EventLoop::Welcome(Connection* c, uint32_t now, bool readNow) {
    c->welcomed_ = true;
    if (readNow) {
        c->interest_ = Poller::Readable;
        c->pollDue_ = true;
        pollDue_.push_back(c);
    } else if (!Register(c)) {
        return false;
    }
    c->waitingSince_ = now;
    c->lineStart_ = now;
    c->phase_ = Connection::Reading;
    Arm(c, Connection::ReadTimer, After(now, settings_.recvTimeOut));
    return true;
}

void EventLoop::PauseListener(uint32_t now, int error) {
    // The connection stays in the listener's queue, which keeps it readable:
    // polling it on would spin. It is polled again after a pause, or as soon
    // as a connection of this loop ends and gives back its descriptor.
    if (!listenerPaused_) {
        for (const Listening& l : listeners_) poller_.Remove(l.socket->Handle);
        listenerPaused_ = true;
        listenerResume_ = After(now, kListenerPause);
    }
    if (!shortOfDescriptors_) {
        shortOfDescriptors_ = true;
        host_->ReportAcceptFailure(error);
    }
}

void EventLoop::ResumeListener() {
    if (!listenerPaused_) return;
    listenerPaused_ = false;
    for (const Listening& l : listeners_)
        if (poller_.Add(l.socket->Handle, Poller::Readable | Poller::Exclusive, l.socket) != 0) listenerPaused_ = true;
}

bool EventLoop::StartTLS(Socket& socket) {
    const std::shared_ptr<platform::TLSContext> context = owner_->TLSNow();
    return context && socket.StartTLS(*context);
}

void EventLoop::Receive(Connection* c, uint32_t now) {
    Socket& s = c->Tcp();
    if (c->phase_ == Connection::Lingering) {
        c->dropped_ += c->input_.Bytes().size();
        c->input_.Clear();
        const long n = s.DropArrived();
        if (n > 0) c->dropped_ += static_cast<uint64_t>(n);
        if (n == 0 || (n < 0 && s.LastError != sys::WSAEWOULDBLOCK) || c->dropped_ >= kLingerBytes) End(c, false);
        return;
    }
    const long n = c->input_.ReceiveFrom(s);
    if (n > 0) {
        if (c->phase_ == Connection::Idle) {
            c->phase_ = Connection::Reading;
            c->lineStart_ = now;
        }
        // The receive time-out bounds each pause in a body; in a head, each
        // part the host reads (Serve).
        if (c->inBody_) c->lineStart_ = now;
    } else if (n == 0) {
        c->peerClosed_ = true;
        SetInterest(c, 0);
    } else if (!c->input_.Full()) {  // nothing yet, or the connection broke
        if (s.LastError != sys::WSAEWOULDBLOCK) End(c, false);
        else if (s.Secure()) SetInterest(c, s.WantsWrite() ? Poller::Readable | Poller::Writable : Poller::Readable);
        return;
    }
    // (A full buffer is the host's to judge: it makes room for a long head.)
    if (!c->ready_) {
        c->ready_ = true;
        ready_.push_back(c);
    }
}

void EventLoop::ServeBatch() {
    if (ready_.empty()) return;
    // The poll vouches for requests it reported; the requests that came
    // behind them in the same bytes (served in the rounds that follow) may
    // have been sent after a change it reported too late for this turn.
    bool polled = changesPolled_ && !changesMissed_;
    std::vector<Connection*>& batch = serving_;
    while (!ready_.empty()) {
        host_->BatchStarting(thread_.get(), polled);
        polled = false;
        batch.clear();
        batch.swap(ready_);
        const uint32_t now = platform::MillisecondClock();
        for (Connection* c : batch) {
            c->ready_ = false;
            Serve(c, now);
        }
    }
    host_->WriteLogLines(thread_.get());
    FinishEndings();
}

void EventLoop::Serve(Connection* c, uint32_t now) {
    c->reply_.Clear();
    ConnectionHost::After after = ConnectionHost::After::Close;
    const uint32_t progress = c->headProgress_;
    const ConnectionHost::Step step = host_->Serve(thread_.get(), *c, &c->reply_, &after, false);
    c->inBody_ = false;
    switch (step) {
        case ConnectionHost::Step::IncompleteBody:
            c->inBody_ = true;
            [[fallthrough]];
        case ConnectionHost::Step::Incomplete:
            if (c->headProgress_ > progress) c->lineStart_ = now;
            if (c->InputEnded() || c->input_.Full()) {
                End(c, false);  // nothing more can come, or nothing more fits
            } else {
                c->phase_ = Connection::Reading;
                Arm(c, Connection::ReadTimer, After(c->lineStart_, settings_.recvTimeOut));
                // Bytes a TLS session decrypted and kept: no poll reports them.
                if (c->Tcp().Pending()) Receive(c, now);
            }
            break;
        case ConnectionHost::Step::Answer:
            c->probation_ = false;
            Answer(c, after, now);
            break;
        case ConnectionHost::Step::Worker:
            c->probation_ = false;
            ToWorker(c);
            break;
        case ConnectionHost::Step::Script:
            c->probation_ = false;
            ToScript(c, now);
            break;
        case ConnectionHost::Step::Drop: End(c, false); break;
    }
}

void EventLoop::Answer(Connection* c, ConnectionHost::After after, uint32_t now) {
    c->after_ = after;
    c->phase_ = Connection::Sending;
    // A closing answer's end leaves in one segment with the end of the
    // stream, which follows within this turn once the log line is written
    // (as a peer that corks its answers and closes sends it): one segment
    // fewer for each side to make and take in per connection.
    c->Tcp().EndFollows(after == ConnectionHost::After::Close || after == ConnectionHost::After::Linger);
    c->sendDeadline_ = After(now, settings_.sendTimeOut);
    Arm(c, Connection::SendTimer, c->sendDeadline_);
    // At once (but for that end): the client can take it in while the loop
    // serves the others (a batch sent at its end would keep both waiting).
    Send(c, now);
}

void EventLoop::Send(Connection* c, uint32_t now) {
    const uint64_t before = c->reply_.Sent();
    const int r = c->Tcp().SendSome(c->reply_);
    if (c->reply_.Sent() - before > kLongSend) now = platform::MillisecondClock();
    if (r < 0) {
        End(c, false);
    } else if (r > 0) {
        Answered(c, now);
    } else {
        const bool moved = c->reply_.Sent() != before;
        if (moved) c->sendDeadline_ = After(now, settings_.sendTimeOut);
        if (c->pace_.load(std::memory_order_relaxed) == Connection::Flowing) {
            // From here on the client's pace decides how fast it leaves.
            c->stalledSince_.store(now, std::memory_order_relaxed);
            c->pace_.store(Connection::Unmeasured, std::memory_order_relaxed);
            c->measuredAt_ = now;
            c->acknowledgedAtMeasure_ = c->Tcp().Acknowledged();
            ArmSend(c);
        } else if (moved) {
            ArmSend(c);
        }
        // A TLS session may need to read before it can send on.
        SetInterest(c, c->Tcp().Secure() && !c->Tcp().WantsWrite() ? Poller::Readable : Poller::Writable);
    }
}

void EventLoop::ArmSend(Connection* c) {
    uint32_t deadline = c->sendDeadline_;
    if (c->pace_.load(std::memory_order_relaxed) != Connection::Flowing) {
        const uint32_t measure = After(c->measuredAt_, Connection::kSendJudgeTime);
        if (static_cast<int32_t>(measure - deadline) < 0) deadline = measure;
    }
    Arm(c, Connection::SendTimer, deadline);
}

void EventLoop::MeasurePace(Connection* c, uint32_t now) {
    const int64_t acknowledged = c->Tcp().Acknowledged();
    const int64_t taken = acknowledged - c->acknowledgedAtMeasure_;
    const int64_t period = static_cast<int64_t>(now - c->measuredAt_);
    const bool slow = acknowledged >= 0 && taken * 1000 < Connection::kMinSendRate * period;
    c->pace_.store(slow ? Connection::TooSlow : Connection::Enough, std::memory_order_relaxed);
    c->measuredAt_ = now;
    c->acknowledgedAtMeasure_ = acknowledged;
    ArmSend(c);
}

void EventLoop::Answered(Connection* c, uint32_t now) {
    c->reply_.Clear();
    if (c->pace_.load(std::memory_order_relaxed) != Connection::Flowing)
        c->pace_.store(Connection::Flowing, std::memory_order_relaxed);
    if (c->admittedByEviction_.load(std::memory_order_relaxed)) c->admittedByEviction_.store(false, std::memory_order_relaxed);
    host_->AnswerSent();
    if (c->after_ == ConnectionHost::After::KeepAlive) {
        SetInterest(c, c->peerClosed_ ? 0u : static_cast<unsigned>(Poller::Readable));
        WaitForRequest(c, now);
        return;
    }
    // The connection ends once the batch's log lines are written, so that a
    // client that waits for the end finds its line in the log.
    Disarm(c);
    ending_.push_back(c);
}

void EventLoop::FinishEndings() {
    const uint32_t now = platform::MillisecondClock();
    std::vector<Connection*> ending;
    ending.swap(ending_);
    for (Connection* c : ending) {
        switch (c->after_) {
            case ConnectionHost::After::Linger: Linger(c, now); break;
            case ConnectionHost::After::Close: End(c, true); break;
            default: End(c, false); break;
        }
    }
}

void EventLoop::Linger(Connection* c, uint32_t now) {
    if (c->peerClosed_) {
        End(c, true);
        return;
    }
    c->Tcp().CloseNotify();
    c->Tcp().ShutDown(Socket::kShutSend);
    c->dropped_ = 0;
    c->phase_ = Connection::Lingering;
    SetInterest(c, Poller::Readable);
    Arm(c, Connection::ReadTimer, After(now, kLingerTime));
    // What came already goes at once.
    Receive(c, now);
}

void EventLoop::WaitForRequest(Connection* c, uint32_t now) {
    c->waitingSince_ = now;
    c->lineStart_ = now;
    c->silent_ = false;
    if (!c->input_.Empty() || c->peerClosed_) {
        // A pipelined request is here already (or the peer has closed and
        // what it left is served before the connection ends).
        c->phase_ = Connection::Reading;
        Arm(c, Connection::ReadTimer, After(now, settings_.recvTimeOut));
        if (!c->ready_) {
            c->ready_ = true;
            ready_.push_back(c);
        }
        return;
    }
    c->input_.Release();
    c->phase_ = Connection::Idle;
    Arm(c, Connection::IdleTimer, After(now, settings_.keepAlive));
    // The next request may wait decrypted in a TLS session already.
    if (c->Tcp().Pending()) Receive(c, now);
}

void* EventLoop::TakePollTag(Connection* c) {
    uint32_t index;
    if (freePollSlots_.empty()) {
        index = static_cast<uint32_t>(pollSlots_.size());
        pollSlots_.emplace_back();
    } else {
        index = freePollSlots_.back();
        freePollSlots_.pop_back();
    }
    PollSlot& slot = pollSlots_[index];
    slot.connection = c;
    c->pollSlot_ = index;
    // Odd, so that it cannot be the address of the wake event or the listener.
    const uint64_t tag = (static_cast<uint64_t>(index) << 32) | (static_cast<uint64_t>(slot.generation) << 1) | 1;
    c->pollTag_ = reinterpret_cast<void*>(static_cast<uintptr_t>(tag));
    return c->pollTag_;
}

void EventLoop::ReleasePollTag(Connection* c) {
    PollSlot& slot = pollSlots_[c->pollSlot_];
    slot.connection = nullptr;
    slot.generation = (slot.generation + 1) & 0x7fffffff;
    freePollSlots_.push_back(c->pollSlot_);
    c->pollTag_ = nullptr;
}

Connection* EventLoop::ConnectionOf(void* tag) const {
    const auto value = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(tag));
    const auto index = static_cast<uint32_t>(value >> 32);
    if (index >= pollSlots_.size()) return nullptr;
    const PollSlot& slot = pollSlots_[index];
    return slot.generation == ((value & 0xffffffff) >> 1) ? slot.connection : nullptr;
}

bool EventLoop::Register(Connection* c) {
    if (poller_.Add(c->Tcp().Handle, Poller::Readable, TakePollTag(c)) != 0) {
        ReleasePollTag(c);
        End(c, false);
        return false;
    }
    c->polled_ = true;
    c->interest_ = Poller::Readable;
    return true;
}

void EventLoop::RegisterDue() {
    std::vector<Connection*> due;
    due.swap(pollDue_);
    for (Connection* c : due) {
        c->pollDue_ = false;
        if (poller_.Add(c->Tcp().Handle, c->interest_, TakePollTag(c)) != 0) {
            ReleasePollTag(c);
            End(c, false);
            continue;
        }
        c->polled_ = true;
    }
}

void EventLoop::Unregister(Connection* c, bool closing) {
    if (c->pollDue_) {
        pollDue_.erase(std::find(pollDue_.begin(), pollDue_.end(), c));
        c->pollDue_ = false;
        c->interest_ = 0;
        return;
    }
    if (!c->polled_) return;
    // A descriptor about to close leaves the poll by itself: no system call.
    if (!closing) poller_.Remove(c->Tcp().Handle);
    ReleasePollTag(c);
    c->polled_ = false;
    c->interest_ = 0;
}

void EventLoop::ToWorker(Connection* c) {
    Disarm(c);
    Unregister(c, false);
    c->phase_ = Connection::Working;
    owner_->Workers().Submit(c);
}

void EventLoop::ToScript(Connection* c, uint32_t now) {
    Disarm(c);
    Unregister(c, false);
    c->phase_ = Connection::Working;
    owner_->LeaveSlot(c);
    if (owner_->Workers().SubmitScript(c, now, settings_.scriptTimeOut)) return;
    // The scripts' lane is full: the overload answer, at once.
    if (!Register(c)) return;
    c->reply_.Clear();
    ConnectionHost::After after = ConnectionHost::After::Close;
    if (host_->Serve(thread_.get(), *c, &c->reply_, &after, true) != ConnectionHost::Step::Answer) {
        End(c, false);
        return;
    }
    Answer(c, after, now);
}

void EventLoop::End(Connection* c, bool orderly) {
    Disarm(c);
    // Its poll tag is retired before the descriptor closes. A registration
    // lives as long as the open socket, not the descriptor, and a script
    // being started may hold a copy of the socket for a moment: events the
    // poll still reports then carry a retired tag and are dropped.
    Unregister(c, true);
    if (c->ready_) ready_.erase(std::find(ready_.begin(), ready_.end(), c));
    load_.fetch_sub(1, std::memory_order_relaxed);
    owner_->End(c, orderly);
    // A descriptor is free again: a connection the listener holds back may
    // be taken now.
    ResumeListener();
}

void EventLoop::SetInterest(Connection* c, unsigned interest) {
    if (c->interest_ == interest) return;
    if (c->pollDue_) {  // it joins the poll with this interest
        c->interest_ = interest;
        return;
    }
    poller_.Modify(c->Tcp().Handle, interest, c->pollTag_);
    c->interest_ = interest;
}

void EventLoop::Arm(Connection* c, Connection::Timer timer, uint32_t deadline) {
    Disarm(c);
    c->timer_ = timer;
    c->deadline_ = deadline;
    // Deadlines of one kind mostly arrive in order: walk back from the tail.
    Connection* after = tail_[timer];
    while (after && static_cast<int32_t>(after->deadline_ - deadline) > 0) after = after->prev_;
    c->prev_ = after;
    c->next_ = after ? after->next_ : head_[timer];
    (after ? after->next_ : head_[timer]) = c;
    (c->next_ ? c->next_->prev_ : tail_[timer]) = c;
}

void EventLoop::Disarm(Connection* c) {
    if (c->timer_ == Connection::NoTimer) return;
    const int t = c->timer_;
    (c->prev_ ? c->prev_->next_ : head_[t]) = c->next_;
    (c->next_ ? c->next_->prev_ : tail_[t]) = c->prev_;
    c->prev_ = c->next_ = nullptr;
    c->timer_ = Connection::NoTimer;
}

void EventLoop::Expire(uint32_t now) {
    for (int t = Connection::ReadTimer; t < Connection::TimerCount; ++t) {
        while (head_[t] && Passed(head_[t]->deadline_, now)) {
            Connection* c = head_[t];
            // A send timer also marks when the client's pace is measured.
            if (t == Connection::SendTimer && !Passed(c->sendDeadline_, now)) MeasurePace(c, now);
            else if (t == Connection::ReadTimer && HeadCutShort(c)) Serve(c, now);
            else End(c, false);
        }
    }
}

bool EventLoop::HeadCutShort(Connection* c) {
    // A client that stops in the middle of a head has its request served
    // with the lines it sent, as when it closes there; one that stops in a
    // body, or sends nothing, has nothing to serve.
    if (c->phase_ != Connection::Reading || c->inBody_ || c->silent_ || c->input_.Empty()) return false;
    c->silent_ = true;
    Disarm(c);
    return true;
}

int EventLoop::NextTimeout(uint32_t now) const {
    if (!ready_.empty()) return 0;
    int timeout = -1;
    if (listenerPaused_) {
        const int32_t left = static_cast<int32_t>(listenerResume_ - now);
        timeout = left <= 0 ? 0 : left;
    }
    if (trimDue_) {
        const int32_t left = static_cast<int32_t>(lastActive_ + kQuietTime - now);
        timeout = left <= 0 ? 0 : left;
    }
    for (int t = Connection::ReadTimer; t < Connection::TimerCount; ++t) {
        if (!head_[t]) continue;
        const int32_t left = static_cast<int32_t>(head_[t]->deadline_ - now);
        const int wait = left <= 0 ? 0 : left;
        if (timeout < 0 || wait < timeout) timeout = wait;
    }
    return timeout;
}
