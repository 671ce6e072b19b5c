// Resource identifiers shared by agent.rc, the control window and its dialogs.
#pragma once

#define IDI_KELVO_WEB_AGENT 102
#define IDS_APP_TITLE 102
#define IDR_TRAY_MENU 129
#define IDD_CONSENT 130
#define IDD_SITES 131
#define IDC_CONSENT_QUESTION 1001
#define IDC_CONSENT_REMEMBER 1002
#define IDC_CONSENT_ALLOW 1004
#define IDC_CONSENT_BLOCK 1005
#define IDC_SITES_LIST 1011
#define IDC_SITES_FORGET 1012
#define IDM_QUIT 32771
#define IDM_SITES 32772
