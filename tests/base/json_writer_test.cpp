// The compact text the page parses: exact bytes for every kind of value the agent writes.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "base/json_value.h"

using kelvo::rtc::web::JsonValue;

namespace {

JsonValue object() {
    JsonValue value;
    value.makeObject();
    return value;
}

}  // namespace

TEST(json_writer, escapes_control_bytes_and_copies_everything_else) {
    JsonValue v = object();
    v.setString("s", "\"\\\b\f\n\r\t\x01\x1b\x1f\x7f/\xc3\xa9 z");
    EXPECT_EQ(v.toString(), "{\"s\":\"\\\"\\\\\\b\\f\\n\\r\\t\\u0001\\u001b\\u001f\x7f/\xc3\xa9 z\"}");
}

TEST(json_writer, writes_integers_as_plain_decimals) {
    JsonValue v = object();
    v.setUInt("max", 4294967295u);
    v.setUInt("above", 2147483648u);
    v.setUInt("zero", 0);
    v.setInt("neg", -5);
    v.setInt("min", std::numeric_limits<int32_t>::min());
    v.setInt("top", std::numeric_limits<int32_t>::max());
    EXPECT_EQ(v.toString(),
              "{\"max\":4294967295,\"above\":2147483648,\"zero\":0,\"neg\":-5,"
              "\"min\":-2147483648,\"top\":2147483647}");
}

TEST(json_writer, writes_literals_and_empty_containers_without_whitespace) {
    JsonValue v = object();
    JsonValue emptyArray;
    emptyArray.makeArray();
    v.setBool("t", true);
    v.setBool("f", false);
    v.setValue("a", emptyArray);
    v.setValue("o", object());
    EXPECT_EQ(v.toString(), "{\"t\":true,\"f\":false,\"a\":[],\"o\":{}}");
    EXPECT_EQ(emptyArray.toString(), "[]");
    EXPECT_EQ(object().toString(), "{}");
    EXPECT_EQ(JsonValue("[null, true ,false]").toString(), "[null,true,false]");
}

TEST(json_writer, replacement_keeps_member_order) {
    JsonValue v("{\"command\":\"x\",\"uid\":1.5,\"flag\":true,\"code\":\"no\"}");
    v.setUInt("uid", 4294967295u);
    v.setBool("flag", false);
    v.setInt("code", -3);
    v.setString("command", "joinChannel");
    EXPECT_EQ(v.toString(), "{\"command\":\"joinChannel\",\"uid\":4294967295,\"flag\":false,\"code\":-3}");
    v.setInt("uid", 7);
    EXPECT_EQ(v.toString(), "{\"command\":\"joinChannel\",\"uid\":7,\"flag\":false,\"code\":-3}");
}

TEST(json_writer, reprints_parsed_unsigned_values_exactly) {
    EXPECT_EQ(JsonValue("{ \"uid\" : 4294967295 }").toString(), "{\"uid\":4294967295}");
}

TEST(json_writer, builds_a_device_list_reply) {
    JsonValue reply = object();
    JsonValue devices;
    devices.makeArray();
    reply.setString("command", "getDevices");
    reply.setValue("devices", devices);
    reply.setBool("code", true);
    EXPECT_EQ(reply.toString(), "{\"command\":\"getDevices\",\"devices\":[],\"code\":true}");
}

TEST(json_writer, builds_lists_from_released_entries) {
    JsonValue list;
    list.makeArray();
    JsonValue entry;
    for (int i = 0; i < 3; ++i) {
        entry.makeObject();
        entry.setString("id", i == 1 ? "B" : "A");
        entry.setInt("index", i);
        list.append(entry.release());
        EXPECT_FALSE(entry.isObject());
        EXPECT_EQ(entry.toString(), "");
    }
    EXPECT_EQ(list.size(), 3);
    JsonValue reply = object();
    reply.setString("command", "getWindows");
    reply.setValue("windows", list);
    reply.setBool("code", true);
    EXPECT_EQ(reply.toString(),
              "{\"command\":\"getWindows\",\"windows\":[{\"id\":\"A\",\"index\":0},"
              "{\"id\":\"B\",\"index\":1},{\"id\":\"A\",\"index\":2}],\"code\":true}");
}
