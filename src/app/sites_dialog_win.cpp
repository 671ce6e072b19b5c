#include "app/sites_dialog_win.h"

#include <memory>
#include <string>
#include <vector>

#include "app/owned_dialog_win.h"
#include "app/win/resource.h"
#include "platform/win/wide_text.h"

namespace kelvo {
namespace rtc {
namespace web {

namespace {

// The lines on show: the list box's line n is origins[n].
struct sites_window {
    const site_list& sites;
    std::vector<std::string> origins;
};

void fillList(HWND dialog, sites_window& window) {
    HWND list = GetDlgItem(dialog, IDC_SITES_LIST);
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    window.origins.clear();
    for (const auto& site : window.sites.list()) {
        const char* decision = site.second == site_decision::allowed ? " (allowed)" : " (blocked)";
        const std::wstring line = wide_from_utf8(site.first + decision);
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
        window.origins.push_back(site.first);
    }
    EnableWindow(GetDlgItem(dialog, IDC_SITES_FORGET), FALSE);
}

BOOL onCommand(HWND dialog, sites_window& window, WORD command, WORD notification) {
    const LRESULT chosen = SendDlgItemMessageW(dialog, IDC_SITES_LIST, LB_GETCURSEL, 0, 0);
    if (command == IDC_SITES_LIST && notification == LBN_SELCHANGE) {
        EnableWindow(GetDlgItem(dialog, IDC_SITES_FORGET), chosen != LB_ERR);
    } else if (command == IDC_SITES_FORGET && chosen >= 0 &&
               static_cast<size_t>(chosen) < window.origins.size()) {
        window.sites.forget(window.origins[static_cast<size_t>(chosen)]);
        fillList(dialog, window);
    } else if (command == IDCANCEL) {
        DestroyWindow(dialog);
    } else {
        return FALSE;
    }
    return TRUE;
}

INT_PTR CALLBACK sitesProcedure(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* window = owned_dialog_state<sites_window>(dialog, message, lparam);
    if (window == nullptr) return FALSE;
    switch (message) {
        case WM_INITDIALOG:
            fillList(dialog, *window);
            return TRUE;
        case WM_COMMAND:
            return onCommand(dialog, *window, LOWORD(wparam), HIWORD(wparam));
        case WM_CLOSE:
            DestroyWindow(dialog);
            return TRUE;
        case WM_DESTROY:
            take_owned_dialog_state<sites_window>(dialog);
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace

HWND open_sites_dialog(HWND owner, const site_list& sites) {
    auto window = std::make_unique<sites_window>(sites_window{sites, {}});
    return open_owned_dialog(owner, IDD_SITES, sitesProcedure, window);
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
