// The file of settings the window keeps between runs, over arbitrary bytes:
// accepted with a panel digest and every value within a control's 32 bits,
// written back and read again to the same settings; or refused with one
// printable line naming a line of the file (or none).
#include <climits>
#include <cstdint>
#include <string>
#include <string_view>

#include "check.h"
#include "remembered_settings.h"

using namespace tarvo::rt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    int lines = 1;
    for (char c : text)
        lines += c == '\n';

    const RememberedRead r = parseRemembered(text);
    if (!r.ok) {
        FUZZ_CHECK(!r.error.empty(), "refused without a reason");
        checkPrintable(r.error, "the reason");
        FUZZ_CHECK(r.errorLine >= 0 && r.errorLine <= lines, "line %d of %d", r.errorLine, lines);
        FUZZ_CHECK(r.settings.values.empty() && r.settings.panel.empty(), "refused with settings");
        return 0;
    }
    FUZZ_CHECK(!r.settings.panel.empty(), "no panel digest");
    FUZZ_CHECK(r.settings.panel.find_first_not_of("0123456789abcdef") == std::string::npos,
               "digest %s", r.settings.panel.c_str());
    for (const auto& [id, value] : r.settings.values) {
        FUZZ_CHECK(id >= 1, "control %d", id);
        FUZZ_CHECK(value >= INT_MIN && value <= UINT32_MAX, "value %lld", (long long)value);
    }
    const RememberedRead again = parseRemembered(formatRemembered(r.settings));
    FUZZ_CHECK(again.ok, "its own text refused: %s", again.error.c_str());
    FUZZ_CHECK(
        again.settings.panel == r.settings.panel && again.settings.values == r.settings.values,
        "read back differently");
    return 0;
}
