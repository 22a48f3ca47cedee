// The handshake: identification, block and checksum, against the board model
// as tarvo-board on a pseudo-terminal and as the virtual board.
#include <signal.h>

#include <memory>

#include "../support/handshake_cases.h"
#include "proc.h"

// tarvo-board on a pseudo-terminal, logging to a file of its own.
class PtyBoard {
public:
    static constexpr double kLongestHandshake = 1.5;
    static std::string noSuchPort(const TempDir& dir) { return dir.file("no-such-port"); }

    std::string start(const std::vector<std::string>& options)
    {
        std::vector<std::string> argv = {binpath("tarvo-board"), "--log", dir_.file("board.log")};
        argv.insert(argv.end(), options.begin(), options.end());
        proc_ = std::make_unique<Proc>(argv);
        const std::string path = proc_->firstLine(10);
        if (path.rfind("/dev/", 0) == 0)
            return path;
        ADD_FAILURE() << "tarvo-board printed: " << path;
        return "";
    }

    std::string stop()
    {
        if (proc_) {
            proc_->signal(SIGTERM);
            proc_->wait(10);
            proc_.reset();
        }
        return readfile(dir_.file("board.log"));
    }

private:
    TempDir dir_;
    std::unique_ptr<Proc> proc_;
};

namespace handshake_cases {
INSTANTIATE_TYPED_TEST_SUITE_P(Handshake, Handshake, PtyBoard);
}  // namespace handshake_cases

using Handshake = handshake_cases::Handshake<PtyBoard>;

TEST_F(Handshake, TheVirtualBoardTakesTheBlock)
{
    tarvo::rt::setComDevice(handshake_cases::kPort, "virtual");
    EXPECT_EQ(handshake(), 0);
    EXPECT_EQ(c, 0xEE);
}
