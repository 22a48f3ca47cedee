#include "remembered_settings.h"

#include "options.h"

#include <charconv>
#include <climits>
#include <vector>

namespace tarvo::rt {

namespace {

template <class Int>
bool number(std::string_view s, Int& out)
{
    const char* end = s.data() + s.size();
    const auto r = std::from_chars(s.data(), end, out);
    return r.ec == std::errc() && r.ptr == end;
}

}  // namespace

RememberedRead parseRemembered(std::string_view text)
{
    RememberedRead r;
    auto fail = [&r](int line, std::string why) {
        r.errorLine = line;
        r.error = std::move(why);
        r.settings = {};
        return r;
    };
    if (text.size() > kMaxRememberedBytes)
        return fail(0, "larger than " + std::to_string(kMaxRememberedBytes) + " bytes");
    if (text.find('\0') != std::string_view::npos)
        return fail(0, "not a text file");
    int lineNo = 0;
    while (!text.empty()) {
        ++lineNo;
        const std::size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
        const std::vector<std::string_view> w = tokens(line);
        if (w.empty() || w[0].front() == '#')
            continue;
        if (w.size() != 2)
            return fail(lineNo, "expected two words, found " + std::to_string(w.size()));
        if (w[0] == "panel") {
            if (!r.settings.panel.empty())
                return fail(lineNo, "a second panel line");
            if (w[1].find_first_not_of("0123456789abcdef") != std::string_view::npos)
                return fail(lineNo, "not a panel digest: " + quoteToken(w[1]));
            r.settings.panel = std::string(w[1]);
            continue;
        }
        int id = 0;
        std::int64_t value = 0;
        if (!number(w[0], id) || id <= 0)
            return fail(lineNo, "not a control id: " + quoteToken(w[0]));
        if (!number(w[1], value) || value < INT_MIN || value > UINT32_MAX)
            return fail(lineNo, "not a value: " + quoteToken(w[1]));
        if (!r.settings.values.emplace(id, value).second)
            return fail(lineNo, "control " + std::to_string(id) + " a second time");
    }
    if (r.settings.panel.empty())
        return fail(0, "no panel line");
    r.ok = true;
    return r;
}

std::string formatRemembered(const RememberedSettings& settings)
{
    std::string text = "# tarvo: the settings the window last started a run with\n";
    text += "panel " + settings.panel + "\n";
    for (const auto& [id, value] : settings.values)
        text += std::to_string(id) + " " + std::to_string(value) + "\n";
    return text;
}

}  // namespace tarvo::rt
