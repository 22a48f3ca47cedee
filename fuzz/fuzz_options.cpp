// The command line over arbitrary argument vectors (the input's arguments
// are separated by zero bytes, argv[0] first): accepted with every --com
// entry valid and once, or refused with one printable line.
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "check.h"
#include "com_table.h"
#include "options.h"

using namespace tarvo::rt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> args(1);
    for (size_t i = 0; i < size; i++) {
        if (data[i] == 0)
            args.emplace_back();
        else
            args.back() += char(data[i]);
    }

    const OptionsResult r = parseOptions(args);
    const Options& o = r.options;
    FUZZ_CHECK(!o.qtArgs.empty() && o.qtArgs[0] == args[0], "argv[0] not handed to Qt");
    if (r.ok) {
        FUZZ_CHECK(r.error.empty(), "accepted with an error");
        std::set<int> ports;
        for (const ComOption& c : o.com) {
            FUZZ_CHECK(c.port >= 1 && c.port <= kMaxPortNumber, "port %d", c.port);
            FUZZ_CHECK(!c.device.empty(), "port %d without a device", c.port);
            FUZZ_CHECK(ports.insert(c.port).second, "port %d twice", c.port);
        }
    } else {
        FUZZ_CHECK(!r.error.empty(), "refused without a reason");
        checkPrintable(r.error, "the error");
    }
    return 0;
}
