// Resource ids of the conduit's settings dialog. Plain #defines: windres reads this file too.
#pragma once

#define IDD_SETTINGS 101     // shown by CfgConduit, with the current-settings area
#define IDD_SETTINGS_OLD 399 // shown by ConfigureConduit

#define IDB_ACTION_SYNC 103      // arrows both ways between handheld and desktop
#define IDB_ACTION_UPDATE 104    // desktop to handheld
#define IDB_ACTION_OVERWRITE 105 // handheld to desktop
#define IDB_ACTION_NOTHING 106   // handheld and desktop with a pause sign

#define IDI_CONDUIT 105

#define IDS_CURRENT_SETTINGS 8004 // "%s's Current Settings:"
#define IDS_STATUS_SYNC 8005
#define IDS_STATUS_UPDATE 8006
#define IDS_STATUS_OVERWRITE 8007
#define IDS_STATUS_NOTHING 8008
#define IDS_ACTION_GROUP 8009

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
#define IDC_HELP_BUTTON 9
#define IDC_ACTION_GROUP 403
#define IDC_SYNC 404
#define IDC_UPDATE 405
#define IDC_OVERWRITE 406
#define IDC_NOTHING 407
#define IDC_MAKE_DEFAULT 411
#define IDC_AUTO_RUN 412
#define IDC_HIDE_TIPS 414
#define IDC_PICTURE_SYNC 1000
#define IDC_PICTURE_UPDATE 1001
#define IDC_PICTURE_OVERWRITE 1002
#define IDC_PICTURE_NOTHING 1003
#define IDC_DEFAULT_STATUS 1004
#define IDC_NEXT_STATUS 1005
#define IDC_CURRENT_GROUP 1006
