#include "engine_interfaces.h"

#include "engine_log.h"

namespace kelvo {
namespace rtc {
namespace msvc_abi {

void parameter_object::release() { log_line("call release parameter").write(); }

int parameter_object::setBool(const char* key, bool value) {
    log_line("call setBool").text(key).boolean(value).write();
    return 0;
}

int parameter_object::setInt(const char* key, int value) {
    log_line("call setInt").text(key).signed_number(value).write();
    return 0;
}

int parameter_object::setString(const char* key, const char* value) {
    log_line("call setString").text(key).text(value).write();
    return 0;
}

int parameter_object::setObject(const char* key, const char* json) {
    log_line("call setObject").text(key).text(json).write();
    return 0;
}

int parameter_object::setParameters(const char* json) {
    log_line("call setParameters").text(json).write();
    return 0;
}

void media_object::release() { log_line("call release mediaEngine").write(); }

int media_object::registerVideoRenderFactory(media::IExternalVideoRenderFactory* factory) {
    log_line("call registerVideoRenderFactory").write();
    __atomic_store_n(&factory_, factory, __ATOMIC_SEQ_CST);
    return 0;
}

}  // namespace msvc_abi
}  // namespace rtc
}  // namespace kelvo
