// What callers rely on when they parse the page's messages.
#include <gtest/gtest.h>

#include <string>

#include "base/json_value.h"

using kelvo::rtc::web::JsonValue;

namespace {

// The decoded text of member "s" of the parsed object, or "<none>" when it did not parse.
std::string decoded(const char* text) {
    JsonValue v(text);
    std::string out = "<none>";
    v.readString("s", out);
    return out;
}

}  // namespace

TEST(json_parser, unparsable_text_gives_no_node) {
    for (const char* text : {static_cast<const char*>(nullptr), "", "   ", "not json", "{", "{\"a\":}",
                             "{a:1}", "{\"a\":1,}", "{\\u0000\"a\":1}"}) {
        JsonValue v(text);
        EXPECT_FALSE(v.isObject()) << (text ? text : "null");
        EXPECT_EQ(v.toString(), "") << (text ? text : "null");
        EXPECT_EQ(v.size(), 0);
        EXPECT_EQ(v.getInt("a", 9), 9);
    }
}

TEST(json_parser, non_object_roots_parse_but_are_not_objects) {
    JsonValue array("[1, 2]");
    EXPECT_FALSE(array.isObject());
    EXPECT_EQ(array.size(), 2);
    EXPECT_EQ(array.toString(), "[1,2]");
    JsonValue text("\"command\"");
    EXPECT_FALSE(text.isObject());
    EXPECT_EQ(text.toString(), "\"command\"");
    EXPECT_EQ(text.getString("command", "d"), std::string("d"));
}

TEST(json_parser, stops_after_the_first_value_and_skips_whitespace) {
    EXPECT_EQ(JsonValue("{\"a\":1} {\"b\":2}").toString(), "{\"a\":1}");
    EXPECT_EQ(JsonValue("{\"a\":1}garbage").toString(), "{\"a\":1}");
    EXPECT_EQ(JsonValue(" \t\r\n{ \"a\" : 1 ,\n\"b\":[ ] }").toString(), "{\"a\":1,\"b\":[]}");
}

TEST(json_parser, keeps_duplicate_keys_and_finds_the_first) {
    JsonValue v("{\"a\":1,\"A\":2,\"a\":3}");
    EXPECT_EQ(v.size(), 3);
    EXPECT_EQ(v.getInt("a", 0), 1);
    EXPECT_EQ(v.getInt("A", 0), 1);
    EXPECT_EQ(v.toString(), "{\"a\":1,\"A\":2,\"a\":3}");
}

TEST(json_parser, decodes_escapes) {
    EXPECT_EQ(decoded("{\"s\":\"\\b\\f\\n\\r\\t\\\"\\\\\\/\"}"), "\b\f\n\r\t\"\\/");
    EXPECT_EQ(decoded("{\"s\":\"\\u00e9\\u00C9\"}"), "\xc3\xa9\xc3\x89");
    EXPECT_EQ(decoded("{\"s\":\"\\ud83d\\ude00\"}"), "\xf0\x9f\x98\x80");
}

TEST(json_parser, drops_nul_and_unpaired_surrogate_escapes) {
    EXPECT_EQ(decoded("{\"s\":\"a\\u0000b\"}"), "ab");
    EXPECT_EQ(decoded("{\"s\":\"x\\ud800y\"}"), "xy");
    EXPECT_EQ(decoded("{\"s\":\"x\\udc00y\"}"), "xy");
    EXPECT_EQ(decoded("{\"s\":\"\\ud800\\u0041\"}"), "A");
    EXPECT_EQ(decoded("{\"s\":\"\\ud800\"}"), "");
    // Only real escapes count: an escaped backslash before "u0000" is text.
    EXPECT_EQ(decoded("{\"s\":\"\\\\u0000\"}"), "\\u0000");
}

TEST(json_parser, malformed_unicode_escape_is_invalid_inside_the_value_only) {
    EXPECT_EQ(decoded("{\"s\":\"x\\u12G4y\"}"), "<none>");
    EXPECT_EQ(decoded("{\"s\":\"\\u12"), "<none>");
    EXPECT_EQ(JsonValue("{\"a\":1} \"\\u12\"").toString(), "{\"a\":1}");
}

TEST(json_parser, unknown_escape_stands_for_the_character) {
    EXPECT_EQ(decoded("{\"s\":\"\\q\\'\"}"), "q'");
    JsonValue v("{\"k\\x\":\"v\"}");
    EXPECT_EQ(v.getString("kx", "d"), std::string("v"));
}

TEST(json_parser, refuses_absurd_nesting_without_crashing) {
    const std::string deep(100000, '[');
    EXPECT_EQ(JsonValue(deep.c_str()).toString(), "");
}
