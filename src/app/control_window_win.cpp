#include "app/control_window_win.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "agent/engine_library.h"
#include "app/consent_dialog_win.h"
#include "app/sites_dialog_win.h"
#include "app/tray_menu_extras_win.h"
#include "app/win/resource.h"
#include "platform/win/wide_text.h"

namespace kelvo {
namespace rtc {
namespace web {

HINSTANCE g_module_instance = nullptr;

const wchar_t control_window_name[] = L"Kelvo Web Agent";
const UINT show_tray_icon_message = RegisterWindowMessageW(L"KelvoZuzIrave.ShowTrayIcon.Message");
const UINT taskbar_created_message = RegisterWindowMessageW(L"TaskbarCreated");
const UINT reload_sites_message = RegisterWindowMessageW(L"KelvoWebAgent.ReloadSites.Message");
const UINT close_for_upgrade_message =
    RegisterWindowMessageW(L"KelvoWebAgent.CloseForUpgrade.Message");

namespace {

const UINT icon_callback_message = WM_USER + 1;
// Posted by the wake-ups of the prompt (questions are queued) and of the usage (it changed).
const UINT consent_question_message = WM_APP + 1;
const UINT usage_changed_message = WM_APP + 2;
const size_t tooltip_limit = 127;
const size_t version_limit = 63;

}  // namespace

std::wstring tray_tooltip_text(const char* engine_version) {
    std::wstring version;
    const int length = engine_version == nullptr
                           ? 0
                           : MultiByteToWideChar(CP_ACP, 0, engine_version, -1, nullptr, 0);
    if (length > 1) {
        version.resize(static_cast<size_t>(length));
        MultiByteToWideChar(CP_ACP, 0, engine_version, -1, &version[0], length);
        // Without the terminator, and no longer than the version buffer of 64 wide characters.
        version.resize(std::min(static_cast<size_t>(length) - 1, version_limit));
    }
    std::wstring text = std::wstring(control_window_name) + L" " + version;
    if (text.size() > tooltip_limit) text.resize(tooltip_limit);
    return text;
}

control_window::control_window(sites_changed_handler on_sites_changed,
                               queued_consent_prompt& prompt, tray_usage_indicator& usage,
                               site_list sites)
    : on_sites_changed_(std::move(on_sites_changed)), prompt_(prompt), usage_(usage), sites_(std::move(sites)),
      tray_(*this) {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = window_procedure;
    window_class.hInstance = g_module_instance;
    window_class.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    window_class.hIconSm = LoadIconW(nullptr, IDI_APPLICATION);
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    window_class.lpszClassName = control_window_name;
    RegisterClassExW(&window_class);

    quit_on_destroy_ = TRUE;
    window_ = CreateWindowExW(0, control_window_name, control_window_name, WS_OVERLAPPEDWINDOW,
                              CW_USEDEFAULT, 0, 200, 200, nullptr, nullptr, g_module_instance,
                              nullptr);
    if (window_ == nullptr) {
        PostQuitMessage(0);
        return;
    }
    // A full pointer-sized slot: the 32-bit one would cut the address on 64-bit Windows.
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    start_wakeups();

    // The icon appears once the loop delivers this message.
    HWND found = FindWindowW(control_window_name, nullptr);
    if (found != nullptr) {
        PostMessageW(found, show_tray_icon_message, 1, 0);
    } else {
        MessageBoxW(nullptr, L"No existing instance could be contacted", control_window_name,
                    MB_ICONWARNING);
    }
    icon_ = LoadIconW(g_module_instance, MAKEINTRESOURCEW(IDI_KELVO_WEB_AGENT));
}

control_window::~control_window() {
    // A window that outlives the object (the loop ended through the menu) must not reach it.
    if (window_ != nullptr && IsWindow(window_)) {
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
    }
}

int control_window::run_loop() {
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (is_dialog_message(message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

void control_window::destroy() {
    stop_wakeups();
    close_dialogs();
    tray_.destroy();
}

LRESULT CALLBACK control_window::window_procedure(HWND window, UINT message, WPARAM wparam,
                                                  LPARAM lparam) {
    auto* self = reinterpret_cast<control_window*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    // Messages sent while the window is being created arrive before the slot is filled.
    if (self == nullptr) return DefWindowProcW(window, message, wparam, lparam);
    return self->handle_message(message, wparam, lparam);
}

LRESULT control_window::handle_message(UINT message, WPARAM wparam, LPARAM lparam) {
    if (handle_access_message(message, wparam)) return 0;
    if (message == show_tray_icon_message) {
        tray_.on_show_message(wparam);
        return 0;
    }
    if (message == taskbar_created_message) {
        tray_.on_taskbar_created();
        return 0;
    }
    if (message == reload_sites_message) {
        if (on_sites_changed_) on_sites_changed_(std::string());
        return 0;
    }
    if (message == WM_COPYDATA) {
        const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
        if (data == nullptr || data->dwData != forget_site_data || !on_sites_changed_) return FALSE;
        on_sites_changed_(std::string(static_cast<const char*>(data->lpData), data->cbData));
        return TRUE;
    }
    if (message == close_for_upgrade_message) {
        restarting_ = true;
        return DefWindowProcW(window_, WM_CLOSE, 0, 0);
    }
    switch (message) {
        case icon_callback_message:
            if (lparam == WM_RBUTTONUP && menu_ != nullptr) open_menu();
            return 0;
        case WM_COMMAND:
            if (LOWORD(wparam) == IDM_QUIT) PostQuitMessage(0);
            run_tray_menu_command(LOWORD(wparam));
            break;
        case WM_INITMENUPOPUP:
            prepare_tray_menu(reinterpret_cast<HMENU>(wparam));
            return 0;
        case WM_INITMENU:
            return 0;
        case WM_DESTROY:
            stop_wakeups();
            destroy_menu();
            if (quit_on_destroy_) PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    // Includes WM_CLOSE, which destroys the window and so ends the loop.
    return DefWindowProcW(window_, message, wparam, lparam);
}

void control_window::open_menu() {
    HMENU popup = GetSubMenu(menu_, 0);
    SetMenuDefaultItem(popup, IDM_QUIT, FALSE);
    POINT cursor{};
    GetCursorPos(&cursor);
    // Without the foreground the menu would not close when the user clicks elsewhere.
    SetForegroundWindow(window_);
    TrackPopupMenu(popup, TPM_LEFTBUTTON, cursor.x, cursor.y, 0, window_, nullptr);
    PostMessageW(window_, WM_NULL, 0, 0);
}

void control_window::fill_icon_data() {
    icon_data_ = NOTIFYICONDATAW{};
    icon_data_.cbSize = sizeof(icon_data_);
    icon_data_.hWnd = window_;
    icon_data_.uID = IDI_KELVO_WEB_AGENT;
    icon_data_.hIcon = icon_;
    icon_data_.uCallbackMessage = icon_callback_message;
    icon_data_.uFlags = NIF_MESSAGE | NIF_ICON;
    wchar_t title[tooltip_limit + 1] = {};
    if (LoadStringW(g_module_instance, IDS_APP_TITLE, title, tooltip_limit + 1) > 0) {
        const std::wstring tip = icon_tooltip();
        std::copy(tip.begin(), tip.end(), icon_data_.szTip);
        icon_data_.uFlags |= NIF_TIP;
    }
}

bool control_window::add_icon() {
    fill_icon_data();
    return Shell_NotifyIconW(NIM_ADD, &icon_data_) != FALSE;
}

bool control_window::delete_icon() {
    fill_icon_data();
    return Shell_NotifyIconW(NIM_DELETE, &icon_data_) != FALSE;
}

void control_window::update_tooltip() {
    fill_icon_data();
    Shell_NotifyIconW(NIM_MODIFY, &icon_data_);
}

std::wstring control_window::icon_tooltip() const {
    if (!tray_.in_use()) return tray_tooltip_text(engine_library::instance().version());
    std::wstring tip = wide_from_utf8(tray_.tooltip());
    if (tip.size() > tooltip_limit) tip.resize(tooltip_limit);
    return tip;
}

void control_window::load_menu() {
    menu_ = LoadMenuW(g_module_instance, MAKEINTRESOURCEW(IDR_TRAY_MENU));
    if (menu_ != nullptr && !sites_.list) {
        EnableMenuItem(menu_, IDM_SITES, MF_BYCOMMAND | MF_GRAYED);
    }
}

void control_window::destroy_menu() {
    if (menu_ == nullptr) return;
    DestroyMenu(menu_);
    menu_ = nullptr;
}

bool control_window::handle_access_message(UINT message, WPARAM wparam) {
    if (message == consent_question_message) {
        show_questions();
    } else if (message == usage_changed_message) {
        tray_.on_usage(usage_.usage_text());
    } else if (message == WM_COMMAND && LOWORD(wparam) == IDM_SITES) {
        open_sites();
    } else {
        return false;
    }
    return true;
}

// What was queued or changed before the wake-ups were set is looked at once the loop runs.
void control_window::start_wakeups() {
    HWND window = window_;
    prompt_.wakeup().set([window] { PostMessageW(window, consent_question_message, 0, 0); });
    usage_.wakeup().set([window] { PostMessageW(window, usage_changed_message, 0, 0); });
    PostMessageW(window, consent_question_message, 0, 0);
    PostMessageW(window, usage_changed_message, 0, 0);
}

void control_window::stop_wakeups() {
    prompt_.wakeup().set(nullptr);
    usage_.wakeup().set(nullptr);
}

void control_window::show_questions() {
    for (auto& question : prompt_.take_questions()) {
        open_consent_dialog(window_, std::move(question), prompt_.answer_within(),
                            prompt_.allow_after());
    }
}

// One "Sites..." window at a time: choosing the item again brings it to the front.
void control_window::open_sites() {
    if (!sites_.list) return;
    if (sites_dialog_ != nullptr && IsWindow(sites_dialog_)) {
        SetForegroundWindow(sites_dialog_);
        return;
    }
    sites_dialog_ = open_sites_dialog(window_, sites_);
}

bool control_window::is_dialog_message(MSG& message) const {
    HWND root = message.hwnd != nullptr ? GetAncestor(message.hwnd, GA_ROOT) : nullptr;
    return root != nullptr && root != window_ && GetWindow(root, GW_OWNER) == window_ &&
           IsDialogMessageW(root, &message) != FALSE;
}

// Each consent dialog gives its answer (dismissed) as it goes.
void control_window::close_dialogs() {
    std::vector<HWND> owned;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND candidate, LPARAM found) -> BOOL {
            auto& list = *reinterpret_cast<std::vector<HWND>*>(found);
            list.push_back(candidate);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&owned));
    for (HWND candidate : owned) {
        if (window_ != nullptr && GetWindow(candidate, GW_OWNER) == window_) {
            DestroyWindow(candidate);
        }
    }
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
