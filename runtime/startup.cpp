#include "startup.h"

#include "com_table.h"
#include "std_streams.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace tarvo::rt {

std::optional<Options> readCommandLine(char** argv)
{
    prepareStandardStreams();
    std::vector<std::string> args;
    for (char** p = argv; p && *p; ++p)
        args.emplace_back(*p);
    OptionsResult parsed = parseOptions(args);
    if (!parsed.ok) {
        std::fprintf(stderr, "tarvo: %s\n", parsed.error.c_str());
        return std::nullopt;
    }
    if (parsed.options.help) {
        std::fputs(usageText().c_str(), stdout);
        std::exit(0);
    }
    if (parsed.options.version) {
        std::printf("tarvo %s\n", kVersion);
        std::exit(0);
    }
    return std::move(parsed.options);
}

void mapComDevices(const Options& options)
{
    clearComDevices();
    for (const ComOption& c : options.com)
        setComDevice(c.port, c.device);
}

}  // namespace tarvo::rt
