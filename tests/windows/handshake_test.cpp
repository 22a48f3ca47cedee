// The handshake (sendconf) on Windows: identification, block and checksum,
// against tarvo-board, run natively on the far end of a COM port.
#include <memory>

#include "../support/handshake_cases.h"
#include "lines.h"

// tarvo-board behind a COM port whose far end tarvo-lines holds.
class ComBoard {
public:
    static constexpr double kLongestHandshake = 1.9;  // no read waits out its 1 s time-out
    static std::string noSuchPort(const TempDir&) { return "COM254"; }

    std::string start(const std::vector<std::string>& options)
    {
        std::string request = "board";
        for (const std::string& o : options)
            request += " " + o;
        line_ = std::make_unique<RemoteLine>(request);
        return line_->com();
    }

    std::string stop()
    {
        const std::string log = line_ ? line_->stopBoard() : "";
        line_.reset();
        return log;
    }

private:
    std::unique_ptr<RemoteLine> line_;
};

namespace handshake_cases {
INSTANTIATE_TYPED_TEST_SUITE_P(Handshake, Handshake, ComBoard);
}  // namespace handshake_cases
