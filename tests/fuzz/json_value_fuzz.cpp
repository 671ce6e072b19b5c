// Arbitrary bytes through the JSON handle: parse, read members of every kind, write them back and
// print the tree, as the dispatcher does with a page's text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/json_value.h"

using kelvo::rtc::web::JsonValue;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    JsonValue document(text.c_str());
    (void)document.toString();
    if (!document.isObject()) return 0;

    static const char* const keys[] = {"command", "uid", "code", "mute", "channel", "key",
                                       "video", "width", "COMMAND", ""};
    JsonValue copy;
    copy.makeObject();
    for (const char* key : keys) {
        const std::string s = document.getString(key, "none");
        (void)document.getInt(key, -1);
        (void)document.getUInt(key, 7);
        (void)document.getBool(key, false);
        std::string out;
        uint32_t number = 0;
        bool flag = false;
        (void)document.readString(key, out);
        (void)document.readUInt(key, number);
        (void)document.readBool(key, flag);
        JsonValue member = document.getObject(key);
        (void)member.size();
        (void)member.toString();
        copy.setString(key, s.c_str());
        copy.setUInt(key, number);
        copy.setBool(key, flag);
        copy.setValue(key, member);
    }
    JsonValue list;
    list.makeArray();
    list.append(copy.release());
    (void)list.toString();
    (void)document.size();
    return 0;
}
