#include "app/tray_icon.h"

namespace kelvo {
namespace rtc {
namespace web {

void tray_icon::on_show_message(uintptr_t show) {
    show_requested_ = show != 0;
    if (show_requested_) {
        this->show();
    } else {
        hide();
    }
}

void tray_icon::on_taskbar_created() {
    icon_shown_ = false;
    show();
}

void tray_icon::destroy() {
    show_requested_ = false;
    if (icon_shown_ && shell_.delete_icon()) icon_shown_ = false;
    shell_.destroy_menu();
}

// A refused add leaves the icon absent; the next show or taskbar message tries again.
void tray_icon::show() {
    if (!show_requested_ || icon_shown_) return;
    if (!shell_.has_menu()) shell_.load_menu();
    if (shell_.add_icon()) icon_shown_ = true;
}

void tray_icon::hide() {
    if (!show_requested_ && icon_shown_ && shell_.delete_icon()) icon_shown_ = false;
    shell_.destroy_menu();
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
