// tarvo-board: the acquisition board's firmware model as a program, on a
// pseudo-terminal or a real serial port, for tests and for trying the
// recorder without hardware.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "board_driver_posix.h"

namespace {

using tarvo::board::DriverOptions;
using tarvo::board::Faults;

constexpr const char* kHelp = R"(usage: tarvo-board [OPTION]...

Runs a model of the acquisition board. By default on a new pseudo-terminal:
the slave's path is the first line on stdout. The recorder's input flush (or,
failing that, its opening of the slave) stands in for the line break. A break
starts the handshake over, whatever the board was doing. The exclusive use
(TIOCEXCL) of a recorder that died holding the slave is cleared once nobody
has it open; never while the recorder does.

Link:
  --link PATH             also make PATH a symlink to the slave (removed at exit)
  --device PATH           use a real serial port instead of a pseudo-terminal
  --baud RATE             handshake rate on --device (default 19200)
  --other-baud RATE       rate of the third rate class on --device (default 38400)

Output for tests:
  --log FILE              text log of the handshake and events ("-": stderr)
  --dump FILE             every record byte exactly as written, binary

Run:
  --records N             stop sending after record N
  --exit-when-done        with --records: exit once record N is out
  --once                  exit when the recorder closes the port after its run
                          (or after a handshake it gave up)

Faults:
  --wrong-id              identify as another board
  --lowercase-id          the identification in lower case
  --short-id              only 10 bytes of the identification
  --zero-in-id            a zero byte inside the identification
  --extra-after-id        "\r\n" after the identification
  --noise                 bytes already waiting in the line before the handshake
  --bad-checksum          reply with a wrong checksum
  --no-checksum           send no checksum reply
  --lose-record-every N   records N, 2N, 3N, ... are not sent
  --lose-byte K           byte K (from 1) of the record stream is not sent
  --silence-after N       send nothing after record N
  --hangup-after N        hang up the line after record N
  --flood                 no pacing: records as fast as the line takes them
  --stream FILE           send the records in FILE (raw bytes, whole records)
                          in place of the test signals, then fall silent

  --help                  this text

SIGTERM or SIGINT ends the board with status 0; a bad option gives status 2.
)";

[[noreturn]] void bad(const std::string& why)
{
    std::fprintf(stderr, "tarvo-board: %s (see --help)\n", why.c_str());
    std::exit(2);
}

uint64_t positive(const std::string& opt, const std::string& v)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long long n = std::strtoull(v.c_str(), &end, 10);
    if (v.empty() || v[0] == '-' || *end != '\0' || errno != 0 || n == 0)
        bad(opt + " needs a positive whole number, not '" + v + "'");
    return n;
}

DriverOptions parse(int argc, char** argv)
{
    DriverOptions o;
    bool identSet = false, checkSet = false, baudSet = false;
    for (int i = 1; i < argc; ++i) {
        std::string opt = argv[i];
        std::string value;
        bool hasValue = false;
        if (const auto eq = opt.find('='); opt.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = opt.substr(eq + 1);
            opt.resize(eq);
            hasValue = true;
        }
        auto arg = [&]() -> std::string {
            if (hasValue)
                return value;
            if (i + 1 >= argc)
                bad(opt + " needs a value");
            return argv[++i];
        };
        auto flag = [&] {
            if (hasValue)
                bad(opt + " takes no value");
        };
        // A fault of a kind the board shows one of at a time: a second
        // option of the same kind is refused.
        auto oneOfKind = [&](const char* kind, bool& taken, auto& slot, auto fault) {
            flag();
            if (taken)
                bad(std::string("only one ") + kind + " fault at a time");
            taken = true;
            slot = fault;
        };
        auto ident = [&](Faults::Ident f) {
            oneOfKind("identification", identSet, o.faults.ident, f);
        };
        auto check = [&](Faults::Check f) { oneOfKind("checksum", checkSet, o.faults.check, f); };

        if (opt == "--help") {
            std::fputs(kHelp, stdout);
            std::exit(0);
        } else if (opt == "--link") {
            o.link = arg();
        } else if (opt == "--device") {
            o.device = arg();
        } else if (opt == "--baud" || opt == "--other-baud") {
            const std::string v = arg();
            const auto rate = long(positive(opt, v));
            if (!tarvo::board::supportedRate(rate))
                bad(opt + ": " + v + " is not a standard rate");
            (opt == "--baud" ? o.baud : o.otherBaud) = rate;
            baudSet = true;
        } else if (opt == "--log") {
            o.logFile = arg();
        } else if (opt == "--dump") {
            o.dumpFile = arg();
        } else if (opt == "--records") {
            o.records = positive(opt, arg());
        } else if (opt == "--exit-when-done") {
            flag();
            o.exitWhenDone = true;
        } else if (opt == "--once") {
            flag();
            o.once = true;
        } else if (opt == "--wrong-id") {
            ident(Faults::Ident::Wrong);
        } else if (opt == "--lowercase-id") {
            ident(Faults::Ident::LowerCase);
        } else if (opt == "--short-id") {
            ident(Faults::Ident::Short);
        } else if (opt == "--zero-in-id") {
            ident(Faults::Ident::ZeroByte);
        } else if (opt == "--extra-after-id") {
            ident(Faults::Ident::Extra);
        } else if (opt == "--noise") {
            flag();
            o.faults.noise = true;
        } else if (opt == "--bad-checksum") {
            check(Faults::Check::Wrong);
        } else if (opt == "--no-checksum") {
            check(Faults::Check::None);
        } else if (opt == "--lose-record-every") {
            o.faults.loseRecordEvery = positive(opt, arg());
        } else if (opt == "--lose-byte") {
            o.faults.loseByteAt = positive(opt, arg());
        } else if (opt == "--silence-after") {
            o.faults.silenceAfter = positive(opt, arg());
        } else if (opt == "--hangup-after") {
            o.faults.hangupAfter = positive(opt, arg());
        } else if (opt == "--stream") {
            const std::string path = arg();
            std::FILE* f = std::fopen(path.c_str(), "rb");
            if (!f)
                bad("--stream: cannot read " + path);
            int ch;
            while ((ch = std::fgetc(f)) != EOF)
                o.faults.records.push_back(uint8_t(ch));
            std::fclose(f);
            if (o.faults.records.empty())
                bad("--stream: " + path + " is empty");
        } else if (opt == "--flood") {
            flag();
            o.faults.flood = true;
        } else {
            bad("unknown option '" + std::string(argv[i]) + "'");
        }
    }
    if (o.exitWhenDone && !o.records)
        bad("--exit-when-done needs --records");
    if (baudSet && o.device.empty())
        bad("--baud and --other-baud need --device");
    if (!o.link.empty() && !o.device.empty())
        bad("--link is for the pseudo-terminal, not --device");
    return o;
}

}  // namespace

int main(int argc, char** argv)
{
    const DriverOptions options = parse(argc, argv);
    return tarvo::board::runBoard(options);
}
