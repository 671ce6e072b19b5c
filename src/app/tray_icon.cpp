#include "app/tray_icon.h"

namespace kelvo {
namespace rtc {
namespace web {

namespace {

const char tray_title[] = "Kelvo Web Agent";
// U+2013, the en dash, in UTF-8.
const char title_separator[] = " \xE2\x80\x93 ";

}  // namespace

void tray_icon::on_show_message(uintptr_t show) {
    show_requested_ = show != 0;
    if (wanted()) {
        this->show();
    } else {
        hide();
    }
}

void tray_icon::on_usage(const std::string& usage_text) {
    if (usage_text == usage_text_) return;
    usage_text_ = usage_text;
    if (!wanted()) {
        hide();
    } else if (icon_shown_) {
        shell_.update_tooltip();
    } else {
        show();
    }
}

void tray_icon::on_taskbar_created() {
    icon_shown_ = false;
    show();
}

void tray_icon::destroy() {
    show_requested_ = false;
    usage_text_.clear();
    hide();
}

std::string tray_icon::tooltip() const {
    return in_use() ? tray_title + std::string(title_separator) + usage_text_ : tray_title;
}

// A refused add leaves the icon absent; the next show, use or taskbar message tries again.
void tray_icon::show() {
    if (!wanted() || icon_shown_) return;
    if (!shell_.has_menu()) shell_.load_menu();
    if (shell_.add_icon()) icon_shown_ = true;
}

void tray_icon::hide() {
    if (icon_shown_ && shell_.delete_icon()) icon_shown_ = false;
    shell_.destroy_menu();
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
