#include "board_model.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstring>
#include <numbers>

#include "reccost.h"

namespace tarvo::board {

namespace {

// Bytes a line picks up before anyone talks on it: control characters, a
// line end, a fragment of the identification. A recorder that does not flush
// before the break reads these instead of the identification.
constexpr uint8_t kNoise[] = {0xFF, 0x00, 0x13, 0x11, '\r', '\n', 'K', 'L',
                              'V',  0x80, 'n',  'o',  'i',  's',  'e', 0x7F};

constexpr std::size_t kMaxLogLines = 10000;

std::string hex(const uint8_t* bytes, std::size_t n)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(n * 3);
    for (std::size_t i = 0; i < n; ++i) {
        if (i)
            s += ' ';
        s += digits[bytes[i] >> 4];
        s += digits[bytes[i] & 15];
    }
    return s;
}

// One table per channel, one full period each. Periods are powers of two so
// that the whole record stream repeats after kSignalCycle records and the
// stream can be copied from one precomputed cycle.
struct SignalTables {
    std::array<std::vector<uint16_t>, kMaxChannels> t;

    SignalTables()
    {
        enum Shape { Sine, Triangle, RampUp, RampDown };
        struct Def {
            Shape shape;
            std::size_t period;
            double low, high;
        };
        static constexpr Def defs[kMaxChannels] = {
            {Sine, 512, 150, 3950},  {Triangle, 1024, 100, 4000}, {RampUp, 256, 0, 4095},
            {Sine, 2048, 600, 3500}, {Triangle, 128, 300, 3800},  {RampDown, 4096, 0, 4095},
            {Sine, 64, 1000, 3100},  {Triangle, 4096, 0, 4095},
        };
        for (unsigned c = 0; c < kMaxChannels; ++c) {
            const Def& d = defs[c];
            auto& v = t[c];
            v.resize(d.period);
            for (std::size_t i = 0; i < d.period; ++i) {
                const double x = double(i) / double(d.period);  // phase 0..1
                double y = 0;                                   // 0..1
                switch (d.shape) {
                case Sine: y = 0.5 + 0.5 * std::sin(2 * std::numbers::pi * x); break;
                case Triangle: y = x < 0.5 ? 2 * x : 2 - 2 * x; break;
                case RampUp: y = double(i) / double(d.period - 1); break;
                case RampDown: y = 1 - double(i) / double(d.period - 1); break;
                }
                v[i] = uint16_t(std::lround(d.low + y * (d.high - d.low)));
            }
        }
    }
};

const SignalTables& tables()
{
    static const SignalTables t;
    return t;
}

}  // namespace

const char* stateName(BoardModel::State s)
{
    switch (s) {
    case BoardModel::State::Idle: return "idle";
    case BoardModel::State::Identified: return "identified";
    case BoardModel::State::Configured: return "configured";
    case BoardModel::State::Refused: return "refused";
    case BoardModel::State::Streaming: return "streaming";
    case BoardModel::State::Silent: return "silent";
    case BoardModel::State::HungUp: return "hung up";
    }
    return "?";
}

uint8_t blockChecksum(const uint8_t* bytes, std::size_t n)
{
    unsigned sum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        sum += bytes[i];
        if (sum > 255)
            sum = (sum + 1) & 0xFF;
    }
    return uint8_t(sum);
}

BoardConfig checkBlock(const uint8_t* b)
{
    BoardConfig c;
    const unsigned n = b[0];
    auto refuse = [&](std::string why) {
        c.problem = std::move(why);
        return c;
    };
    if (n < 1 || n > kMaxChannels)
        return refuse("channel count " + std::to_string(n) + " outside 1..8");
    for (unsigned i = 1; i <= n; ++i)
        if (b[i] != 2 * (n - i))
            return refuse("channel entry " + std::to_string(i) + " is " + std::to_string(b[i]) +
                          ", expected " + std::to_string(2 * (n - i)));
    const uint8_t flags = b[13];
    if (flags & 0x3E)
        return refuse("flag byte " + hex(&flags, 1) + " has bits 1-5 set");
    if ((flags & 0xC0) == 0xC0)
        return refuse("flag byte " + hex(&flags, 1) + " names two rates");
    if (b[9] < 0x77 || b[9] > 0x80)
        return refuse("fine-delay byte " + hex(&b[9], 1) + " outside 77..80");

    c.valid = true;
    c.channels = n;
    c.status = !(flags & 0x01);
    c.baud = (flags & 0x80) ? 115200 : (flags & 0x40) ? 57600 : 0;
    c.recLen = reclen(n, c.status);
    c.count = 0xFFFFFFu - (uint32_t(b[10]) | uint32_t(b[11]) << 8 | uint32_t(b[12]) << 16);
    c.periodUs = reccost(n, c.status, uint32_t(c.baud)) + 10 * c.count + (0x80u - b[9]);
    return c;
}

uint16_t sampleValue(unsigned channel, uint64_t n)
{
    const auto& t = tables().t[channel % kMaxChannels];
    return t[n % t.size()];
}

uint8_t statusByte(uint64_t n)
{
    uint8_t s = uint8_t(n & 15);
    for (unsigned k = 0; k < 4; ++k)
        if ((n >> (k + 3)) & 1)
            s |= uint8_t(0x80 >> k);
    return s;
}

void packSamples(const uint16_t* v, unsigned channels, uint8_t freeNibble, uint8_t* out)
{
    for (unsigned i = 0; i < channels; i += 2) {
        uint8_t* p = out + 3 * (i / 2);
        p[0] = uint8_t(v[i] >> 4);
        if (i + 1 < channels) {
            p[1] = uint8_t((v[i] & 15) | (v[i + 1] & 15) << 4);
            p[2] = uint8_t(v[i + 1] >> 4);
        } else {
            p[1] = uint8_t((v[i] & 15) | (freeNibble & 15) << 4);
        }
    }
}

BoardModel::BoardModel(Faults faults) : faults_(faults)
{
    if (faults_.noise)
        queue(kNoise, sizeof kNoise, "noise");
}

void BoardModel::lineBreak()
{
    note("break");
    identify();
}

BoardModel::StandIn BoardModel::breakStandIn(const char* what)
{
    if (state_ == State::Identified && block_.empty()) {
        note(std::string(what) + " ignored (identified)");
        return StandIn::Ignored;
    }
    if (state_ == State::Configured && replyGood_) {
        note(std::string(what) + " held (configured, a break unless the start byte follows)");
        held_ = true;
        return StandIn::Held;
    }
    if (state_ == State::Idle)
        note(std::string(what) + " (break stand-in)");
    else
        note(std::string(what) + " (break stand-in, was " + stateName(state_) + ")");
    identify();
    return StandIn::Restarted;
}

void BoardModel::confirmBreak(const char* what)
{
    if (!held_) {
        note(std::string(what) + " not held (" + stateName(state_) + ")");
        return;
    }
    note(std::string(what) + " (break stand-in, no start byte followed)");
    identify();
}

void BoardModel::resendIdent(const char* what)
{
    if (state_ != State::Identified || !block_.empty()) {
        note(std::string(what) + " ignored (" + stateName(state_) + ")");
        return;
    }
    note(std::string(what) + " discarded the identification");
    queueIdent();
}

void BoardModel::identify()
{
    held_ = false;
    block_.clear();
    config_ = {};
    replyGood_ = false;
    state_ = State::Identified;
    queueIdent();
}

void BoardModel::queueIdent()
{
    std::string id = kIdent;
    switch (faults_.ident) {
    case Faults::Ident::Good: break;
    case Faults::Ident::Wrong: id = "KLVDAQ00740019"; break;
    case Faults::Ident::LowerCase:
        for (char& ch : id)
            ch = char(std::tolower(static_cast<unsigned char>(ch)));
        break;
    case Faults::Ident::Short: id.resize(10); break;
    case Faults::Ident::ZeroByte: id[6] = '\0'; break;
    case Faults::Ident::Extra: id += "\r\n"; break;
    }
    queue(reinterpret_cast<const uint8_t*>(id.data()), id.size(), "ident");
}

void BoardModel::receive(const uint8_t* bytes, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i) {
        const uint8_t b = bytes[i];
        switch (state_) {
        case State::Identified:
            block_.push_back(b);
            if (block_.size() == kBlockLen)
                configure();
            break;
        case State::Configured:
            if (b == kStartByte) {
                note("rx start " + hex(&b, 1));
                held_ = false;
                state_ = State::Streaming;
                stream_.restart();
                note("streaming");
            } else {
                note("rx " + hex(&b, 1) + " ignored (waiting for the start byte)");
            }
            break;
        case State::Refused: note("rx " + hex(&b, 1) + " ignored (block refused)"); break;
        default: note("rx " + hex(&b, 1) + " ignored"); break;
        }
    }
}

void BoardModel::configure()
{
    note("rx block " + hex(block_.data(), block_.size()));
    config_ = checkBlock(block_.data());
    const uint8_t sum = blockChecksum(block_.data(), block_.size());
    uint8_t reply = sum;
    if (config_.valid) {
        note("config ok channels=" + std::to_string(config_.channels) +
             " status=" + std::to_string(int(config_.status)) +
             " baud=" + std::to_string(config_.baud) + " reclen=" + std::to_string(config_.recLen) +
             " count=" + std::to_string(config_.count) +
             " period=" + std::to_string(config_.periodUs));
        state_ = State::Configured;
        stream_.configure(config_, &faults_);
    } else {
        note("config refused: " + config_.problem);
        state_ = State::Refused;
        reply = uint8_t(0xFF ^ sum);  // the recorder then reports a bad checksum
    }
    if (config_.valid && faults_.check == Faults::Check::Wrong)
        reply = uint8_t(0xFF ^ sum);
    replyGood_ = config_.valid && faults_.check == Faults::Check::Good;
    if (faults_.check == Faults::Check::None)
        note("checksum withheld");
    else
        queue(&reply, 1, "checksum");
}

void BoardModel::makeRecord(uint64_t n, uint8_t* out) const { board::makeRecord(config_, n, out); }

void BoardModel::linkOpened() { note("open"); }

void BoardModel::linkClosed()
{
    note("close");
    held_ = false;  // the recorder that might have sent the start byte is gone
    switch (state_) {
    case State::Idle: break;
    case State::Configured:
        // The recorder closes the port between the handshake and the start
        // byte to reopen it at the acquisition rate; after a reply it cannot
        // accept, it has given up.
        if (!replyGood_)
            toIdle("handshake abandoned");
        break;
    case State::Identified:
    case State::Refused: toIdle("handshake abandoned"); break;
    case State::Streaming:
    case State::Silent:
    case State::HungUp: toIdle("run over"); break;
    }
}

void BoardModel::reset() { toIdle("reset"); }

void BoardModel::toIdle(const char* why)
{
    const bool ran =
        state_ == State::Streaming || state_ == State::Silent || state_ == State::HungUp;
    if (ran)
        note("idle after " + std::to_string(stream_.recordsSent()) + " records (" + why + ")");
    else
        note(std::string("idle (") + why + ")");
    state_ = State::Idle;
    block_.clear();
    replyGood_ = false;
    held_ = false;
    // The next recorder finds the line as the first one did.
    if (faults_.noise)
        queue(kNoise, sizeof kNoise, "noise");
}

void BoardModel::queue(const uint8_t* bytes, std::size_t n, const char* what)
{
    output_.insert(output_.end(), bytes, bytes + n);
    note(std::string("tx ") + what + " " + hex(bytes, n));
}

std::vector<uint8_t> BoardModel::takeOutput()
{
    std::vector<uint8_t> out;
    out.swap(output_);
    return out;
}

uint64_t BoardModel::produce(std::vector<uint8_t>* out, uint64_t slots)
{
    if (state_ != State::Streaming)
        return 0;
    auto end = RecordStream::End::Running;
    const uint64_t used = stream_.produce(
        out, slots, faults_, [this](std::string line) { note(std::move(line)); }, &end);
    if (end == RecordStream::End::Silent)
        state_ = State::Silent;
    if (end == RecordStream::End::HungUp)
        state_ = State::HungUp;
    return used;
}

uint64_t BoardModel::skip(uint64_t slots)
{
    if (state_ != State::Streaming)
        return 0;
    auto end = RecordStream::End::Running;
    const uint64_t used = stream_.skip(
        slots, faults_, [this](std::string line) { note(std::move(line)); }, &end);
    if (end == RecordStream::End::Silent)
        state_ = State::Silent;
    if (end == RecordStream::End::HungUp)
        state_ = State::HungUp;
    return used;
}

std::vector<std::string> BoardModel::takeLog()
{
    std::vector<std::string> lines(std::make_move_iterator(log_.begin()),
                                   std::make_move_iterator(log_.end()));
    log_.clear();
    return lines;
}

void BoardModel::note(std::string line)
{
    log_.push_back(std::move(line));
    // Nobody may be draining the log (the virtual port keeps it for tests);
    // a long run with periodic faults must not grow it without end.
    if (log_.size() > kMaxLogLines)
        log_.pop_front();
}

}  // namespace tarvo::board
