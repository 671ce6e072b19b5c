// A handle over one cJSON tree: every command, reply and event is read and written through it.
#pragma once

#include <cstdint>
#include <string>

struct cJSON;

namespace kelvo {
namespace rtc {
namespace web {

class JsonValue {
public:
    // No node, owning.
    JsonValue();
    // Parses a NUL-terminated text; null, empty or invalid text gives a handle without a node.
    explicit JsonValue(const char* text);
    ~JsonValue();
    JsonValue(JsonValue&& other) noexcept;
    JsonValue& operator=(JsonValue&& other) noexcept;
    JsonValue(const JsonValue&) = delete;
    JsonValue& operator=(const JsonValue&) = delete;

    void makeObject();
    void makeArray();
    bool isObject() const;
    int size() const;
    // When owned: hands the node over and leaves the handle empty and not owning.
    cJSON* release();
    // Compact text; empty without a node.
    std::string toString() const;

    // Reads. Keys match without regard to ASCII letter case; the first match is used.
    const char* getString(const char* key, const char* def) const;
    int32_t getInt(const char* key, int32_t def) const;
    uint32_t getUInt(const char* key, uint32_t def) const;
    bool getBool(const char* key, bool def) const;
    JsonValue getObject(const char* key) const;  // a view (not owning), or no node
    bool readString(const char* key, std::string& out) const;
    bool readUInt(const char* key, uint32_t& out) const;
    bool readBool(const char* key, bool& out) const;

    // Writes: replace an existing member in place, else append.
    void setString(const char* key, const char* text);
    void setInt(const char* key, int32_t value);
    void setUInt(const char* key, uint32_t value);
    void setBool(const char* key, bool value);
    void setValue(const char* key, const JsonValue& other);
    // Appends a node taken from another handle's release() to the array this handle holds.
    void append(cJSON* node);
    // Appends a string to the array this handle holds.
    void appendString(const char* text);

private:
    JsonValue(cJSON* node, bool owned);

    cJSON* node_;
    bool owned_;
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
