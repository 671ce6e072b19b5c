// Modeless dialogs of the control window made from the program's resources. Each keeps a state
// object of its own in its DWLP_USER slot: the dialog owns it from its creation on and deletes
// it when it goes, so the state lives exactly as long as the dialog.
#pragma once

#include <windows.h>

#include <memory>

#include "app/control_window_win.h"

namespace kelvo {
namespace rtc {
namespace web {

// Shows the dialog `resource` owned by `owner` (ShowWindow's `show`) and hands it `state`. Null,
// with `state` left to the caller, when the dialog cannot be made.
template <typename state_type>
HWND open_owned_dialog(HWND owner, int resource, DLGPROC procedure,
                       std::unique_ptr<state_type>& state, int show = SW_SHOW) {
    HWND dialog = CreateDialogParamW(g_module_instance, MAKEINTRESOURCEW(resource), owner,
                                     procedure, reinterpret_cast<LPARAM>(state.get()));
    if (dialog == nullptr) return nullptr;
    state.release();
    ShowWindow(dialog, show);
    return dialog;
}

// The dialog procedure's state, attached at WM_INITDIALOG; null for the messages of the
// dialog's creation that come before it.
template <typename state_type>
state_type* owned_dialog_state(HWND dialog, UINT message, LPARAM lparam) {
    if (message == WM_INITDIALOG) SetWindowLongPtrW(dialog, DWLP_USER, lparam);
    return reinterpret_cast<state_type*>(GetWindowLongPtrW(dialog, DWLP_USER));
}

// At WM_DESTROY: the state goes with the dialog.
template <typename state_type>
std::unique_ptr<state_type> take_owned_dialog_state(HWND dialog) {
    auto* state = reinterpret_cast<state_type*>(SetWindowLongPtrW(dialog, DWLP_USER, 0));
    return std::unique_ptr<state_type>(state);
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
