// Resource ids of the agent program; the conduit and the stand-ins know the texts, not these ids.
#pragma once

// String table.
#define IDS_UPDATE_ADDRESS 1
#define IDS_UPDATE_PATH 2
#define IDS_UPDATE_REQUEST 3
#define IDS_UPDATE_READY 4
#define IDS_REGISTRY_FAILED 5
#define IDS_CANNOT_OPEN 6
#define IDS_NO_PDF_READER 7
#define IDS_WEBSITE 8

// Icons: the 28 tray frames, then the class icon.
#define IDI_FRAME_FIRST 104
#define IDI_FRAME_LAST 131
#define IDI_AGENT 133

// Menu with the tray's popup as its sub-menu 0.
#define IDR_TRAY_MENU 134

// Balloon close box: hot, pressed, normal.
#define IDB_CLOSE_HOT 137
#define IDB_CLOSE_PRESSED 138
#define IDB_CLOSE_NORMAL 139

// About box and its logo.
#define IDD_ABOUT 140
#define IDR_LOGO_GIF 141

// Menu commands.
#define IDM_ABOUT 40001
#define IDM_EXIT 40002
#define IDM_INSTALL 40003
#define IDM_MANUAL 40004
#define IDM_README 40005
#define IDM_WEBSITE 40006
#define IDM_TOOLTIP 40008
#define IDM_STARTUP 40011
