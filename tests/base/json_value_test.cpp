// Reading and writing members through JsonValue handles.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>

#include "base/json_value.h"

using kelvo::rtc::web::JsonValue;

TEST(json_value_keys, match_ignoring_ascii_case_only) {
    JsonValue v("{\"Command\":\"getDevices\",\"\xc3\x89t\xc3\xa9\":1}");
    EXPECT_EQ(v.getString("command", ""), std::string("getDevices"));
    EXPECT_EQ(v.getString("COMMAND", ""), std::string("getDevices"));
    EXPECT_EQ(v.getString("command ", "d"), std::string("d"));
    EXPECT_EQ(v.getInt("\xc3\x89T\xc3\xa9", 0), 1);
    EXPECT_EQ(v.getInt("\xc3\xa9t\xc3\xa9", 0), 0);  // non-ASCII letters are not folded
}

TEST(json_value_keys, null_or_empty_key_reads_defaults) {
    JsonValue v("{\"\":\"empty\",\"a\":true}");
    bool flag = false;
    uint32_t number = 5;
    std::string text = "kept";
    EXPECT_EQ(v.getString(nullptr, "d"), std::string("d"));
    EXPECT_EQ(v.getString("", "d"), std::string("d"));
    EXPECT_EQ(v.getInt("", -1), -1);
    EXPECT_FALSE(v.readBool(nullptr, flag));
    EXPECT_FALSE(v.readBool("", flag));
    EXPECT_FALSE(v.readUInt("", number));
    EXPECT_FALSE(v.readString("", text));
    EXPECT_FALSE(v.getObject(nullptr).isObject());
    EXPECT_EQ(number, 5u);
    EXPECT_EQ(text, "kept");
}

TEST(json_value_keys, null_key_writes_nothing_and_empty_key_always_appends) {
    JsonValue v;
    v.makeObject();
    v.setString(nullptr, "x");
    v.setInt(nullptr, 1);
    v.setBool(nullptr, true);
    EXPECT_EQ(v.toString(), "{}");
    v.setString("", "x");
    v.setString("", "y");
    v.setInt("", 2);
    v.setString("", nullptr);
    EXPECT_EQ(v.toString(), "{\"\":\"x\",\"\":\"y\",\"\":2}");
}

TEST(json_value_reads, unsigned_conversion_truncates_then_wraps_modulo_2_to_32) {
    JsonValue v(
        "{\"max\":4294967295,\"minus1\":-1,\"frac\":3.9,\"negfrac\":-3.9,\"wrap\":4294967297,"
        "\"e19\":1e19,\"nege19\":-1e19,\"e300\":1e300,\"inf\":1e999,\"neginf\":-1e999,\"s\":\"5\"}");
    EXPECT_EQ(v.getUInt("max", 0), 4294967295u);
    EXPECT_EQ(v.getUInt("minus1", 0), 4294967295u);
    EXPECT_EQ(v.getUInt("frac", 0), 3u);
    EXPECT_EQ(v.getUInt("negfrac", 0), 4294967293u);
    EXPECT_EQ(v.getUInt("wrap", 0), 1u);
    EXPECT_EQ(v.getUInt("e19", 0), 2313682944u);
    EXPECT_EQ(v.getUInt("nege19", 0), 1981284352u);
    EXPECT_EQ(v.getUInt("e300", 9), 0u);
    EXPECT_EQ(v.getUInt("inf", 9), 0u);
    EXPECT_EQ(v.getUInt("neginf", 9), 0u);
    EXPECT_EQ(v.getUInt("s", 9), 9u);
    EXPECT_EQ(v.getUInt("missing", 9), 9u);
    uint32_t out = 7;
    EXPECT_FALSE(v.readUInt("s", out));
    EXPECT_EQ(out, 7u);
    EXPECT_TRUE(v.readUInt("MINUS1", out));
    EXPECT_EQ(out, 4294967295u);
}

TEST(json_value_reads, kind_mismatch_gives_default) {
    JsonValue v("{\"s\":\"5\",\"n\":-3.9,\"big\":1e12,\"t\":true,\"null\":null}");
    EXPECT_EQ(v.getInt("s", 42), 42);
    EXPECT_EQ(v.getInt("n", 0), -3);
    EXPECT_EQ(v.getInt("big", 0), INT32_MAX);
    EXPECT_EQ(v.getString("n", "d"), std::string("d"));
    EXPECT_EQ(v.getString("s", "d"), std::string("5"));
    EXPECT_TRUE(v.getBool("t", false));
    EXPECT_TRUE(v.getBool("n", true));
    EXPECT_FALSE(v.getBool("null", false));
    std::string text = "kept";
    EXPECT_FALSE(v.readString("n", text));
    EXPECT_EQ(text, "kept");
    EXPECT_TRUE(v.readString("S", text));
    EXPECT_EQ(text, "5");
}

TEST(json_value_reads, read_bool_reports_presence_and_writes_only_booleans) {
    JsonValue v("{\"one\":1,\"t\":true,\"f\":false,\"null\":null}");
    for (bool preset : {false, true}) {
        bool out = preset;
        EXPECT_TRUE(v.readBool("one", out));
        EXPECT_EQ(out, preset);
        EXPECT_TRUE(v.readBool("null", out));
        EXPECT_EQ(out, preset);
        EXPECT_FALSE(v.readBool("missing", out));
        EXPECT_EQ(out, preset);
    }
    bool out = false;
    EXPECT_TRUE(v.readBool("T", out));
    EXPECT_TRUE(out);
    EXPECT_TRUE(v.readBool("f", out));
    EXPECT_FALSE(out);
}

TEST(json_value_reads, get_object_is_a_view_into_the_tree) {
    JsonValue v("{\"arr\":[1],\"Info\":{\"n\":1}}");
    EXPECT_FALSE(v.getObject("arr").isObject());
    EXPECT_EQ(v.getObject("missing").toString(), "");
    JsonValue view = v.getObject("info");
    ASSERT_TRUE(view.isObject());
    EXPECT_EQ(view.release(), nullptr);  // a view hands out nothing
    EXPECT_EQ(view.getInt("n", 0), 1);
    view.setInt("n", 2);
    EXPECT_EQ(v.toString(), "{\"arr\":[1],\"Info\":{\"n\":2}}");
}

TEST(json_value_handles, handle_without_node_reads_defaults_and_ignores_writes) {
    JsonValue v;
    EXPECT_FALSE(v.isObject());
    EXPECT_EQ(v.size(), 0);
    EXPECT_EQ(v.toString(), "");
    EXPECT_EQ(v.release(), nullptr);
    v.setString("a", "b");
    v.setUInt("a", 1);
    JsonValue other;
    other.makeObject();
    v.setValue("a", other);
    EXPECT_EQ(v.toString(), "");
    bool flag = true;
    EXPECT_FALSE(v.readBool("a", flag));
    EXPECT_EQ(v.getString("a", "d"), std::string("d"));
}

TEST(json_value_handles, moves_transfer_the_tree) {
    JsonValue a("{\"a\":1}");
    JsonValue b(std::move(a));
    EXPECT_EQ(a.toString(), "");
    EXPECT_EQ(b.toString(), "{\"a\":1}");
    JsonValue c("[2]");
    c = std::move(b);
    EXPECT_EQ(c.toString(), "{\"a\":1}");
    EXPECT_EQ(b.toString(), "");
    c.makeArray();
    EXPECT_EQ(c.toString(), "[]");
}

TEST(json_value_handles, append_to_a_non_array_takes_and_frees_the_node) {
    JsonValue target;
    target.makeObject();
    JsonValue entry("{\"a\":1}");
    target.append(entry.release());
    EXPECT_EQ(target.toString(), "{}");
    target.append(nullptr);
    EXPECT_EQ(target.size(), 0);
}

TEST(json_value_writes, set_string_null_removes_an_existing_member_only) {
    JsonValue v("{\"a\":\"x\",\"B\":1,\"c\":true}");
    v.setString("missing", nullptr);
    EXPECT_EQ(v.toString(), "{\"a\":\"x\",\"B\":1,\"c\":true}");
    v.setString("b", nullptr);
    EXPECT_EQ(v.toString(), "{\"a\":\"x\",\"c\":true}");
}

TEST(json_value_writes, replaced_member_keeps_position_and_takes_the_new_key_spelling) {
    JsonValue v("{\"a\":1,\"Name\":\"x\",\"n\":\"text\",\"flag\":1,\"c\":2}");
    v.setString("name", "y");
    v.setInt("N", 5);
    v.setBool("FLAG", true);
    EXPECT_EQ(v.toString(), "{\"a\":1,\"name\":\"y\",\"N\":5,\"FLAG\":true,\"c\":2}");
    v.setInt("n", -1);  // a number changes its value in place
    v.setBool("flag", true);  // the same boolean changes nothing
    EXPECT_EQ(v.toString(), "{\"a\":1,\"name\":\"y\",\"N\":-1,\"FLAG\":true,\"c\":2}");
    v.setBool("flag", false);
    v.setString("new", "z");
    EXPECT_EQ(v.toString(), "{\"a\":1,\"name\":\"y\",\"N\":-1,\"flag\":false,\"c\":2,\"new\":\"z\"}");
}

TEST(json_value_writes, number_replacement_updates_both_views) {
    JsonValue v("{\"n\":1.5}");
    v.setUInt("n", 4294967295u);
    EXPECT_EQ(v.getUInt("n", 0), 4294967295u);
    v.setInt("n", -7);
    EXPECT_EQ(v.getInt("n", 0), -7);
    EXPECT_EQ(v.getUInt("n", 0), 4294967289u);
    EXPECT_EQ(v.toString(), "{\"n\":-7}");
}

TEST(json_value_writes, set_value_stores_a_deep_copy) {
    JsonValue target("{\"keep\":1,\"list\":null}");
    JsonValue source("{\"inner\":[1,2]}");
    target.setValue("LIST", source);
    source.setInt("inner", 0);
    EXPECT_EQ(target.toString(), "{\"keep\":1,\"LIST\":{\"inner\":[1,2]}}");
    target.setValue("missing", JsonValue());
    EXPECT_EQ(target.size(), 2);
    target.setValue("copy", target.getObject("list"));
    target.setValue("self", target);
    EXPECT_EQ(target.toString(),
              "{\"keep\":1,\"LIST\":{\"inner\":[1,2]},\"copy\":{\"inner\":[1,2]},"
              "\"self\":{\"keep\":1,\"LIST\":{\"inner\":[1,2]},\"copy\":{\"inner\":[1,2]}}}");
}
