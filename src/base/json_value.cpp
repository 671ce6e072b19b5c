#include "base/json_value.h"

#include <cjson/cJSON.h>

#include <cmath>
#include <cstring>
#include <utility>

#include "base/json_escapes.h"

namespace kelvo {
namespace rtc {
namespace web {

namespace {

unsigned char lowerAscii(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

// Byte-wise comparison folding only the ASCII letters, whatever the process locale says.
bool equalIgnoringAsciiCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        const unsigned char x = lowerAscii(static_cast<unsigned char>(*a));
        if (x != lowerAscii(static_cast<unsigned char>(*b))) return false;
        if (x == '\0') return true;
    }
}

bool usableKey(const char* key) { return key != nullptr && key[0] != '\0'; }

// First member of `object` whose key matches; null for a null or empty key or a non-object.
cJSON* findMember(const cJSON* object, const char* key) {
    if (!cJSON_IsObject(object) || !usableKey(key)) return nullptr;
    for (cJSON* member = object->child; member != nullptr; member = member->next) {
        if (member->string != nullptr && equalIgnoringAsciiCase(member->string, key)) return member;
    }
    return nullptr;
}

// Truncates toward zero and reduces modulo 2^32. fmod is exact, so this equals the 64-bit
// truncation route wherever that is defined and stays defined beyond it; non-finite values give 0.
uint32_t toUInt32(double value) {
    if (!std::isfinite(value)) return 0;
    double residue = std::fmod(std::trunc(value), 4294967296.0);
    if (residue < 0) residue += 4294967296.0;
    return static_cast<uint32_t>(residue);
}

// Gives `item` its own copy of `key`; false (item untouched) when the copy cannot be made.
bool setKey(cJSON* item, const char* key) {
    const size_t length = std::strlen(key) + 1;
    char* copy = static_cast<char*>(cJSON_malloc(length));
    if (copy == nullptr) return false;
    std::memcpy(copy, key, length);
    if (item->string != nullptr && !(item->type & cJSON_StringIsConst)) cJSON_free(item->string);
    item->type &= ~cJSON_StringIsConst;
    item->string = copy;
    return true;
}

// Puts `item` under `key`: in place of `existing` when given, else appended. Takes ownership.
void putMember(cJSON* object, cJSON* existing, const char* key, cJSON* item) {
    if (item == nullptr) return;
    if (!setKey(item, key)) {
        cJSON_Delete(item);
        return;
    }
    if (existing != nullptr) {
        cJSON_ReplaceItemViaPointer(object, existing, item);
    } else if (!cJSON_AddItemToArray(object, item)) {
        cJSON_Delete(item);
    }
}

// A number member keeps its place and key and takes the new value; any other member is replaced.
void setNumber(cJSON* object, const char* key, double value) {
    if (!cJSON_IsObject(object) || key == nullptr) return;
    cJSON* existing = findMember(object, key);
    if (cJSON_IsNumber(existing)) {
        cJSON_SetNumberHelper(existing, value);
        return;
    }
    putMember(object, existing, key, cJSON_CreateNumber(value));
}

cJSON* parse(const char* text) {
    if (text == nullptr || text[0] == '\0') return nullptr;
    std::string rewritten;
    if (rewriteLenientEscapes(text, rewritten)) return cJSON_Parse(rewritten.c_str());
    return cJSON_Parse(text);
}

}  // namespace

JsonValue::JsonValue() : node_(nullptr), owned_(true) {}

JsonValue::JsonValue(const char* text) : node_(parse(text)), owned_(true) {}

JsonValue::JsonValue(cJSON* node, bool owned) : node_(node), owned_(owned) {}

JsonValue::~JsonValue() {
    if (owned_) cJSON_Delete(node_);
}

JsonValue::JsonValue(JsonValue&& other) noexcept : node_(other.node_), owned_(other.owned_) {
    other.node_ = nullptr;
    other.owned_ = true;
}

JsonValue& JsonValue::operator=(JsonValue&& other) noexcept {
    if (this != &other) {
        if (owned_) cJSON_Delete(node_);
        node_ = other.node_;
        owned_ = other.owned_;
        other.node_ = nullptr;
        other.owned_ = true;
    }
    return *this;
}

void JsonValue::makeObject() {
    if (owned_) cJSON_Delete(node_);
    node_ = cJSON_CreateObject();
    owned_ = true;
}

void JsonValue::makeArray() {
    if (owned_) cJSON_Delete(node_);
    node_ = cJSON_CreateArray();
    owned_ = true;
}

bool JsonValue::isObject() const { return cJSON_IsObject(node_) != 0; }

int JsonValue::size() const { return node_ != nullptr ? cJSON_GetArraySize(node_) : 0; }

cJSON* JsonValue::release() {
    if (!owned_) return nullptr;
    cJSON* node = node_;
    node_ = nullptr;
    owned_ = false;
    return node;
}

std::string JsonValue::toString() const {
    if (node_ == nullptr) return std::string();
    char* text = cJSON_PrintUnformatted(node_);
    if (text == nullptr) return std::string();
    std::string result(text);
    cJSON_free(text);
    return result;
}

const char* JsonValue::getString(const char* key, const char* def) const {
    const cJSON* member = findMember(node_, key);
    return (cJSON_IsString(member) && member->valuestring != nullptr) ? member->valuestring : def;
}

int32_t JsonValue::getInt(const char* key, int32_t def) const {
    const cJSON* member = findMember(node_, key);
    return cJSON_IsNumber(member) ? member->valueint : def;
}

uint32_t JsonValue::getUInt(const char* key, uint32_t def) const {
    readUInt(key, def);
    return def;
}

bool JsonValue::getBool(const char* key, bool def) const {
    readBool(key, def);
    return def;
}

JsonValue JsonValue::getObject(const char* key) const {
    cJSON* member = findMember(node_, key);
    return cJSON_IsObject(member) ? JsonValue(member, false) : JsonValue();
}

bool JsonValue::readString(const char* key, std::string& out) const {
    const cJSON* member = findMember(node_, key);
    if (!cJSON_IsString(member) || member->valuestring == nullptr) return false;
    out = member->valuestring;
    return true;
}

bool JsonValue::readUInt(const char* key, uint32_t& out) const {
    const cJSON* member = findMember(node_, key);
    if (!cJSON_IsNumber(member)) return false;
    out = toUInt32(member->valuedouble);
    return true;
}

bool JsonValue::readBool(const char* key, bool& out) const {
    const cJSON* member = findMember(node_, key);
    if (member == nullptr) return false;
    if (cJSON_IsBool(member)) out = cJSON_IsTrue(member) != 0;
    return true;
}

void JsonValue::setString(const char* key, const char* text) {
    if (!cJSON_IsObject(node_) || key == nullptr) return;
    cJSON* existing = findMember(node_, key);
    if (text == nullptr) {
        if (existing != nullptr) cJSON_Delete(cJSON_DetachItemViaPointer(node_, existing));
        return;
    }
    putMember(node_, existing, key, cJSON_CreateString(text));
}

void JsonValue::setInt(const char* key, int32_t value) { setNumber(node_, key, value); }

void JsonValue::setUInt(const char* key, uint32_t value) {
    setNumber(node_, key, static_cast<double>(value));
}

void JsonValue::setBool(const char* key, bool value) {
    if (!cJSON_IsObject(node_) || key == nullptr) return;
    cJSON* existing = findMember(node_, key);
    if (cJSON_IsBool(existing) && (cJSON_IsTrue(existing) != 0) == value) return;
    putMember(node_, existing, key, cJSON_CreateBool(value));
}

void JsonValue::setValue(const char* key, const JsonValue& other) {
    if (!cJSON_IsObject(node_) || key == nullptr || other.node_ == nullptr) return;
    // Copy before looking up: the other handle may be a view into this very tree.
    cJSON* copy = cJSON_Duplicate(other.node_, true);
    putMember(node_, findMember(node_, key), key, copy);
}

void JsonValue::append(cJSON* node) {
    if (node == nullptr || node == node_) return;
    if (!cJSON_IsArray(node_) || !cJSON_AddItemToArray(node_, node)) cJSON_Delete(node);
}

void JsonValue::appendString(const char* text) {
    if (text != nullptr) append(cJSON_CreateString(text));
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
