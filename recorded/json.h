// A small JSON reader for the run description (run.json), which tarvo
// writes itself: the whole of JSON (RFC 8259), strictly. Anything malformed
// is refused with what was wrong and the byte offset where it was found;
// nesting is limited, so no input can exhaust the stack.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo::recorded::json {

struct Member;

struct Value {
    enum class Type { Null, Bool, Number, String, Array, Object };
    Type type = Type::Null;
    size_t offset = 0;            // byte offset of the value in the text
    bool boolean = false;         // Bool
    double number = 0;            // Number
    bool integral = false;        // Number: written without fraction or exponent, fits int64
    int64_t integer = 0;          // Number, when integral
    std::string text;             // String, as UTF-8
    std::vector<Value> items;     // Array
    std::vector<Member> members;  // Object, in text order

    bool isNull() const { return type == Type::Null; }
    // The member named `key` of an object, or null when there is none.
    const Value* find(std::string_view key) const;
};

struct Member {
    std::string name;
    Value value;
};

constexpr int kMaxDepth = 64;

struct Error {
    size_t offset = 0;
    std::string what;
};

// Parses a whole text (one value, white space around it). False, with the
// error, for anything else: a syntax error, an invalid escape or UTF-16
// surrogate, a control byte in a string, a duplicate key, nesting deeper
// than kMaxDepth.
bool parse(std::string_view text, Value& out, Error& error);

}  // namespace tarvo::recorded::json
