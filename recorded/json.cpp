#include "json.h"

#include <algorithm>
#include <charconv>

namespace tarvo::recorded::json {

const Value* Value::find(std::string_view key) const
{
    for (const auto& [name, value] : members)
        if (name == key)
            return &value;
    return nullptr;
}

namespace {

// A key in a message: control bytes shown as '?'.
std::string shown(std::string_view key)
{
    std::string s(key);
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return s;
}

// Code point `cp` in UTF-8.
void utf8(std::string& out, uint32_t cp)
{
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

class Parser {
public:
    explicit Parser(std::string_view text) : s_(text) {}

    bool document(Value& out, Error& error)
    {
        space();
        bool ok = value(out, 0);
        if (ok) {
            space();
            if (pos_ != s_.size())
                ok = fail("text after the value");
        }
        if (!ok)
            error = error_;
        return ok;
    }

private:
    std::string_view s_;
    size_t pos_ = 0;
    Error error_;

    bool fail(const std::string& what, size_t at)
    {
        error_ = {at, what};
        return false;
    }
    bool fail(const std::string& what) { return fail(what, pos_); }

    bool more() const { return pos_ < s_.size(); }
    char peek() const { return s_[pos_]; }

    void space()
    {
        while (more() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r'))
            pos_++;
    }

    bool literal(std::string_view word)
    {
        if (s_.substr(pos_, word.size()) != word)
            return fail("not a JSON value");
        pos_ += word.size();
        return true;
    }

    bool value(Value& v, int depth)
    {
        if (!more())
            return fail("a value is missing (the text ends)");
        v.offset = pos_;
        switch (peek()) {
        case '{': return object(v, depth + 1);
        case '[': return array(v, depth + 1);
        case '"': v.type = Value::Type::String; return string(v.text);
        case 't':
            v.type = Value::Type::Bool;
            v.boolean = true;
            return literal("true");
        case 'f': v.type = Value::Type::Bool; return literal("false");
        case 'n': v.type = Value::Type::Null; return literal("null");
        default:
            if (peek() == '-' || (peek() >= '0' && peek() <= '9'))
                return number(v);
            return fail("not a JSON value");
        }
    }

    // An object's members or an array's items, from the opening bracket at
    // pos_ to `close`: each read by item(), with a comma between two.
    template <class Item>
    bool sequence(Value& v, Value::Type type, int depth, char close, const char* inside, Item item)
    {
        if (depth > kMaxDepth)
            return fail("nested more than " + std::to_string(kMaxDepth) + " deep");
        v.type = type;
        pos_++;  // { or [
        space();
        if (more() && peek() == close) {
            pos_++;
            return true;
        }
        for (;;) {
            space();
            if (!item())
                return false;
            space();
            if (!more())
                return fail(std::string("the text ends inside ") + inside);
            if (peek() == ',') {
                pos_++;
                continue;
            }
            if (peek() == close) {
                pos_++;
                return true;
            }
            return fail(std::string("expected ',' or '") + close + "'");
        }
    }

    bool object(Value& v, int depth)
    {
        const bool read = sequence(v, Value::Type::Object, depth, '}', "an object", [&] {
            if (!more() || peek() != '"')
                return fail("expected a key in double quotes");
            std::string key;
            if (!string(key))
                return false;
            space();
            if (!more() || peek() != ':')
                return fail("expected ':' after the key");
            pos_++;
            space();
            v.members.push_back({std::move(key), Value{}});
            return value(v.members.back().value, depth);
        });
        if (!read)
            return false;
        // Each key once: a second value for a key would be read differently
        // by different programs.
        std::vector<std::pair<std::string_view, size_t>> keys;
        keys.reserve(v.members.size());
        for (const auto& [name, value] : v.members)
            keys.emplace_back(name, value.offset);
        std::sort(keys.begin(), keys.end());
        for (size_t i = 1; i < keys.size(); i++)
            if (keys[i].first == keys[i - 1].first)
                return fail("the key \"" + shown(keys[i].first) + "\" twice",
                            std::max(keys[i].second, keys[i - 1].second));
        return true;
    }

    bool array(Value& v, int depth)
    {
        return sequence(v, Value::Type::Array, depth, ']', "an array", [&] {
            v.items.emplace_back();
            return value(v.items.back(), depth);
        });
    }

    bool hex4(uint32_t& cp)
    {
        if (s_.size() - pos_ < 4)
            return fail("\\u needs four hexadecimal digits");
        cp = 0;
        for (int i = 0; i < 4; i++) {
            const char c = s_[pos_ + i];
            cp <<= 4;
            if (c >= '0' && c <= '9')
                cp |= uint32_t(c - '0');
            else if (c >= 'a' && c <= 'f')
                cp |= uint32_t(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                cp |= uint32_t(c - 'A' + 10);
            else
                return fail("\\u needs four hexadecimal digits", pos_ + i);
        }
        pos_ += 4;
        return true;
    }

    bool string(std::string& out)
    {
        const size_t open = pos_;
        pos_++;  // "
        for (;;) {
            if (!more())
                return fail("a string that never ends", open);
            const unsigned char c = static_cast<unsigned char>(peek());
            if (c == '"') {
                pos_++;
                return true;
            }
            if (c < 0x20)
                return fail("a control byte inside a string");
            if (c != '\\') {
                out += char(c);
                pos_++;
                continue;
            }
            const size_t escape = pos_;
            pos_++;
            if (!more())
                return fail("a string that never ends", open);
            const char e = peek();
            pos_++;
            switch (e) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                uint32_t cp = 0;
                if (!hex4(cp))
                    return false;
                if (cp >= 0xDC00 && cp <= 0xDFFF)
                    return fail("a lone low surrogate", escape);
                if (cp >= 0xD800 && cp <= 0xDBFF) {
                    uint32_t low = 0;
                    if (s_.substr(pos_, 2) != "\\u")
                        return fail("a high surrogate without its low half", escape);
                    pos_ += 2;
                    if (!hex4(low))
                        return false;
                    if (low < 0xDC00 || low > 0xDFFF)
                        return fail("a high surrogate without its low half", escape);
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                }
                utf8(out, cp);
                break;
            }
            default: return fail("an unknown escape", escape);
            }
        }
    }

    bool digits()
    {
        const size_t from = pos_;
        while (more() && peek() >= '0' && peek() <= '9')
            pos_++;
        return pos_ > from;
    }

    bool number(Value& v)
    {
        const size_t from = pos_;
        v.type = Value::Type::Number;
        if (peek() == '-')
            pos_++;
        if (!more() || !(peek() >= '0' && peek() <= '9'))
            return fail("a number needs digits");
        if (peek() == '0') {
            pos_++;
            if (more() && peek() >= '0' && peek() <= '9')
                return fail("a number with a leading zero", from);
        } else {
            digits();
        }
        bool whole = true;
        if (more() && peek() == '.') {
            pos_++;
            if (!digits())
                return fail("a number needs digits after '.'");
            whole = false;
        }
        if (more() && (peek() == 'e' || peek() == 'E')) {
            pos_++;
            if (more() && (peek() == '+' || peek() == '-'))
                pos_++;
            if (!digits())
                return fail("a number needs digits in its exponent");
            whole = false;
        }
        const char* first = s_.data() + from;
        const char* last = s_.data() + pos_;
        if (whole) {
            const auto r = std::from_chars(first, last, v.integer);
            v.integral = r.ec == std::errc() && r.ptr == last;
        }
        const auto r = std::from_chars(first, last, v.number);
        if (r.ec == std::errc::result_out_of_range && !v.integral)
            return fail("a number out of range", from);
        if (v.integral)
            v.number = static_cast<double>(v.integer);
        return true;
    }
};

}  // namespace

bool parse(std::string_view text, Value& out, Error& error)
{
    out = Value{};
    return Parser(text).document(out, error);
}

}  // namespace tarvo::recorded::json
