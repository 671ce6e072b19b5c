// Resource identifiers shared by agent.rc and the control window.
#pragma once

#define IDI_KELVO_WEB_AGENT 102
#define IDS_APP_TITLE 102
#define IDR_TRAY_MENU 129
#define IDM_QUIT 32771
