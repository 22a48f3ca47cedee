// The unattended-script parser over arbitrary text: a script is accepted
// with every action within its limits and in line order, or refused with one
// printable line that names the line at fault; never anything in between.
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "check.h"
#include "options.h"

using namespace tarvo::rt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The buttons a script may press are the program's; these are tarvo's.
    static const bool terms = (setProgramTerms({{"start", "stop", "quit"}, ""}), true);
    (void)terms;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    int lines = 1;
    for (char c : text)
        lines += c == '\n';

    const ScriptResult r = parseScript(text);
    if (r.ok) {
        FUZZ_CHECK(r.error.empty() && r.errorLine == 0, "accepted with an error");
        int last = 0;
        for (const ScriptAction& a : r.actions) {
            FUZZ_CHECK(a.line > last && a.line <= lines, "action on line %d after %d", a.line,
                       last);
            last = a.line;
            switch (a.verb) {
            case ScriptVerb::Set:
                FUZZ_CHECK(a.control >= 1, "control %d", a.control);
                FUZZ_CHECK(a.value >= INT32_MIN && a.value <= UINT32_MAX, "value %lld",
                           (long long)a.value);
                break;
            case ScriptVerb::Press:
                FUZZ_CHECK(a.callback == "start" || a.callback == "stop" || a.callback == "quit",
                           "press %s", a.callback.c_str());
                break;
            case ScriptVerb::Wait:
                FUZZ_CHECK(
                    std::isfinite(a.seconds) && a.seconds >= 0 && a.seconds <= kMaxWaitSeconds,
                    "wait %g", a.seconds);
                break;
            }
        }
    } else {
        FUZZ_CHECK(r.actions.empty(), "refused with actions");
        FUZZ_CHECK(!r.error.empty(), "refused without a reason");
        FUZZ_CHECK(r.errorLine >= 0 && r.errorLine <= lines, "error on line %d of %d", r.errorLine,
                   lines);
        checkPrintable(r.error, "the error");
    }

    const std::string q = quoteToken(text);
    checkPrintable(q, "a quoted token");
    FUZZ_CHECK(q.size() <= 2 + 40 * 4 + 3, "a quoted token of %zu bytes", q.size());
    return 0;
}
