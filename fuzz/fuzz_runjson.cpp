// The run description reader (run.json) and its JSON reader over arbitrary
// texts. A JSON text it takes must read the same once written again; one it
// refuses must be refused at a byte inside it. A description taken must
// hold settings a run can have.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "check.h"
#include "json.h"
#include "run_info.h"

using namespace tarvo::recorded;
using json::Value;

namespace {

// `n` items between `open` and `close`, a comma between two: item(i)
// writes each.
template <class Item>
void list(std::string& out, char open, char close, size_t n, Item item)
{
    out += open;
    for (size_t i = 0; i < n; i++) {
        if (i)
            out += ',';
        item(i);
    }
    out += close;
}

void write(const Value& v, std::string& out)
{
    switch (v.type) {
    case Value::Type::Null: out += "null"; break;
    case Value::Type::Bool: out += v.boolean ? "true" : "false"; break;
    case Value::Type::Number: {
        char n[40];
        if (v.integral)
            std::snprintf(n, sizeof n, "%lld", (long long)v.integer);
        else
            std::snprintf(n, sizeof n, "%.17g", v.number);
        out += n;
        // 1152.0 is no whole number to the reader: it stays written so.
        if (!v.integral && std::strpbrk(n, ".e") == nullptr)
            out += ".0";
        break;
    }
    case Value::Type::String:
        out += '"';
        for (unsigned char c : v.text) {
            if (c == '"' || c == '\\' || c < 0x20) {
                char e[8];
                std::snprintf(e, sizeof e, "\\u%04x", c);
                out += e;
            } else {
                out += char(c);
            }
        }
        out += '"';
        break;
    case Value::Type::Array:
        list(out, '[', ']', v.items.size(), [&](size_t i) { write(v.items[i], out); });
        break;
    case Value::Type::Object:
        list(out, '{', '}', v.members.size(), [&](size_t i) {
            write(Value{Value::Type::String, 0, false, 0, false, 0, v.members[i].name, {}, {}},
                  out);
            out += ':';
            write(v.members[i].value, out);
        });
        break;
    }
}

bool same(const Value& a, const Value& b)
{
    if (a.type != b.type)
        return false;
    switch (a.type) {
    case Value::Type::Null: return true;
    case Value::Type::Bool: return a.boolean == b.boolean;
    case Value::Type::Number:
        return a.integral == b.integral &&
               (a.integral ? a.integer == b.integer : a.number == b.number);
    case Value::Type::String: return a.text == b.text;
    case Value::Type::Array:
        if (a.items.size() != b.items.size())
            return false;
        for (size_t i = 0; i < a.items.size(); i++)
            if (!same(a.items[i], b.items[i]))
                return false;
        return true;
    case Value::Type::Object:
        if (a.members.size() != b.members.size())
            return false;
        for (size_t i = 0; i < a.members.size(); i++)
            if (a.members[i].name != b.members[i].name ||
                !same(a.members[i].value, b.members[i].value))
                return false;
        return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    Value v;
    json::Error e;
    if (!json::parse(text, v, e)) {
        FUZZ_CHECK(e.offset <= text.size(), "offset %zu of %zu", e.offset, text.size());
        checkPrintable(e.what, "the reason");
    } else {
        std::string again;
        write(v, again);
        Value w;
        FUZZ_CHECK(json::parse(again, w, e), "written again, refused at %zu: %s\n%s", e.offset,
                   e.what.c_str(), again.c_str());
        FUZZ_CHECK(same(v, w), "written again, read otherwise:\n%s", again.c_str());
    }
    RunInfo info;
    std::string why;
    if (parseDescription(text, info, why)) {
        const Settings& s = info.settings;
        FUZZ_CHECK(s.channels >= 1 && s.channels <= 8, "%u channels", s.channels);
        FUZZ_CHECK(s.recordBytes() >= 2 && s.recordBytes() <= 13, "%u bytes", s.recordBytes());
        for (const Event& ev : info.events)
            FUZZ_CHECK(ev.type == Event::Type::Silence || (ev.record >= 1 && ev.missing >= 1),
                       "a loss at %llu of %llu", (unsigned long long)ev.record,
                       (unsigned long long)ev.missing);
    } else {
        checkPrintable(why, "the reason");
        unsigned long long byte = 0;
        FUZZ_CHECK(std::sscanf(why.c_str(), "byte %llu: ", &byte) == 1 && byte <= text.size(), "%s",
                   why.c_str());
    }
    return 0;
}
