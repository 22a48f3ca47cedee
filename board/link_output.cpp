#include "link_output.h"

#include <unistd.h>

#include <algorithm>
#include <string>

namespace tarvo::board {

namespace {

constexpr std::size_t kChunk = 64 * 1024;  // flood mode: bytes per write
constexpr std::size_t kMaxBacklog =
    64 * 1024;  // paced records beyond this are lost, as in an overrun

}  // namespace

LinkOutput::LinkOutput(BoardModel& model, uint64_t records)
    : model_(model), records_(records), pacer_(kMaxBacklog)
{
}

void LinkOutput::received()
{
    if (model_.streaming() && !streaming_) {
        pacer_.start(Clock::now());
        streaming_ = true;
        doneNoted_ = false;
    }
}

void LinkOutput::dropRecords()
{
    recordBytes_.clear();
    written_ = 0;
    streaming_ = false;
}

void LinkOutput::take()
{
    auto out = model_.takeOutput();
    handshake_.insert(handshake_.end(), out.begin(), out.end());

    if (model_.state() == BoardModel::State::Idle ||
        model_.state() == BoardModel::State::Identified)
        dropRecords();
    if (!model_.streaming() || recordsDone()) {
        if (recordsDone() && !doneNoted_) {
            model_.note("done after record " + std::to_string(model_.recordNumber()));
            doneNoted_ = true;
        }
        return;
    }
    const std::size_t backlog = recordBytes_.size() - written_;
    if (written_ > 0 && backlog == 0) {
        recordBytes_.clear();
        written_ = 0;
    }
    const uint64_t left = records_ ? records_ - model_.recordNumber() : UINT64_MAX;
    if (!model_.flood()) {
        pacer_.pace(model_, &recordBytes_, backlog, Clock::now(), left);
        return;
    }
    const uint64_t len = model_.config().recLen;
    const uint64_t want = backlog < kChunk ? (kChunk - backlog) / len + 1 : 0;
    model_.produce(&recordBytes_, std::min(want, left));
}

void LinkOutput::write(int fd, FILE* dump)
{
    while (!handshake_.empty()) {
        const ssize_t n = ::write(fd, handshake_.data(), handshake_.size());
        if (n <= 0)
            return;
        handshake_.erase(handshake_.begin(), handshake_.begin() + n);
    }
    while (written_ < recordBytes_.size()) {
        const std::size_t len = std::min(recordBytes_.size() - written_, kChunk);
        const ssize_t n = ::write(fd, recordBytes_.data() + written_, len);
        if (n <= 0)
            return;
        if (dump)
            std::fwrite(recordBytes_.data() + written_, 1, std::size_t(n), dump);
        written_ += std::size_t(n);
    }
    recordBytes_.clear();
    written_ = 0;
}

std::optional<LinkOutput::Clock::time_point> LinkOutput::nextDue() const
{
    if (!model_.streaming() || model_.flood() || recordsDone() || model_.period().count() <= 0)
        return {};
    return pacer_.nextDue(model_.period(), model_.recordNumber());
}

}  // namespace tarvo::board
