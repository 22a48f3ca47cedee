#include "pty_recorder.h"

#include <algorithm>
#include <thread>

namespace tarvo::board {

namespace {

using namespace std::chrono_literals;

constexpr auto kOpenGrace = 150ms;  // an open without a flush counts as the break after this
constexpr auto kAbandoned = 3s;     // a configured board left closed this long was given up
// A second flush this soon after the one that stood in for the break came
// before the recorder could read the identification (it reads three quarters
// of a second after it: the 500 ms break and a quarter second's pause): the
// identification was discarded and goes out again. A later flush is the one
// that follows the read.
constexpr auto kResendWindow = 200ms;
// After a finished handshake, a flush (or an open) is a break only if no
// start byte follows it within this time: the recorder sends the start byte
// right after its flush, and reads the identification 750 ms after a break.
constexpr auto kStartByteWait = 500ms;

}  // namespace

void PtyRecorder::dataReceived()
{
    // A recorder that talks after opening, without a flush, sends no break.
    openTimer_.reset();
    if (!model_.held())
        heldUntil_.reset();
}

void PtyRecorder::standIn(const char* what, Clock::time_point at)
{
    switch (model_.breakStandIn(what)) {
    case BoardModel::StandIn::Restarted:
        breakAt_ = at;
        heldUntil_.reset();
        break;
    case BoardModel::StandIn::Held:
        // A second flush while held (TCSAFLUSH, then a flush) keeps the first time.
        if (!heldUntil_) {
            breakAt_ = at;
            heldUntil_ = at + kStartByteWait;
            heldBy_ = what;
        }
        break;
    case BoardModel::StandIn::Ignored: break;
    }
}

// What the board wrote since the recorder's flush and the recorder has not
// read: bytes that went out before the board learned of the break it stands
// for (records, or noise of an earlier close), and board output not yet
// written. A board that reacted at the break would not have sent them.
void PtyRecorder::withdrawUnread()
{
    model_.takeOutput();
    output_.dropHandshake();
    link_.withdrawUnread();
}

void PtyRecorder::flushSeen()
{
    const auto now = Clock::now();
    // The open that comes before this flush is counted first: a new recorder's
    // flush must find the board back from the previous run.
    readAccess();
    openTimer_.reset();
    withdrawUnread();
    if (model_.state() == BoardModel::State::Identified && now - breakAt_ < kResendWindow)
        model_.resendIdent("flush");
    else
        standIn("flush", now);
}

void PtyRecorder::accessSeen(PtyLink::Access access)
{
    if (access == PtyLink::Access::LastClose)
        return linkClosed();
    if (access == PtyLink::Access::FirstOpen) {
        // The link was closed: this open may start a handshake.
        openedAt_ = Clock::now();
        openTimer_ = openedAt_ + kOpenGrace;
    }
    model_.linkOpened();
    closedSince_.reset();
}

void PtyRecorder::readAccess()
{
    if (link_.takeAccess([this](PtyLink::Access a) { accessSeen(a); }))
        model_.note("exclusive use left by a closed recorder cleared");
}

void PtyRecorder::linkClosed()
{
    const auto before = model_.state();
    model_.linkClosed();
    openTimer_.reset();
    heldUntil_.reset();
    if (model_.state() == BoardModel::State::Idle) {
        output_.dropRecords();
        if (dump_)
            std::fflush(dump_);
        if (once_ && before != BoardModel::State::Idle)
            runOver_ = true;
    } else {
        closedSince_ = Clock::now();
    }
}

void PtyRecorder::timers()
{
    const auto now = Clock::now();
    if (openTimer_ && now >= *openTimer_) {
        openTimer_.reset();
        if (link_.openers() > 0)
            standIn("open", openedAt_);
    }
    if (heldUntil_ && now >= *heldUntil_) {
        heldUntil_.reset();
        if (model_.held())
            model_.confirmBreak(heldBy_);
    }
    if (closedSince_ && now >= *closedSince_ + kAbandoned) {
        closedSince_.reset();
        if (link_.openers() == 0 && model_.state() == BoardModel::State::Configured) {
            model_.reset();
            if (once_)
                runOver_ = true;
        }
    }
}

PtyRecorder::Clock::time_point PtyRecorder::nextWake(Clock::time_point wake) const
{
    if (openTimer_)
        wake = std::min(wake, *openTimer_);
    if (heldUntil_)
        wake = std::min(wake, *heldUntil_);
    if (closedSince_)
        wake = std::min(wake, *closedSince_ + kAbandoned);
    return wake;
}

void PtyRecorder::awaitReader()
{
    const auto limit = Clock::now() + 2s;
    std::this_thread::sleep_for(20ms);  // written bytes reach the slave's queue asynchronously
    while (Clock::now() < limit) {
        readAccess();
        if (link_.openers() == 0 || link_.unread() == 0)
            return;
        std::this_thread::sleep_for(5ms);
    }
}

}  // namespace tarvo::board
