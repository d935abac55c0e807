#pragma once

// Identifiers of the window's resources: the dialog templates, the controls, the icons, the
// bitmap and the strings. Shared by the resource script and the code.

#define IDD_ABOUTBOX 100
#define IDD_SETTINGS 101
#define IDD_QUILLON_DIALOG 102
#define IDI_QUILLON 128
#define IDI_LYRIC 129
#define IDB_LOG_IMAGES 130
#define IDS_ABOUTBOX 1
#define IDC_STATIC (-1)

#define IDC_DOWNLOAD 1000
#define IDC_LYRICS 1002
#define IDC_SAVE 1003
#define IDC_LOG 1004
#define IDC_SECOND_LINE 1009
#define IDC_THIRD_LINE 1010
#define IDC_PATH 1017
#define IDC_FILE_GROUP 1018
#define IDC_INFO_GROUP 1020
#define IDC_VIEW_GROUP 1021
#define IDC_TITLE 1022
#define IDC_ARTIST 1023
#define IDC_ALBUM 1024
#define IDC_TITLE_LABEL 1025
#define IDC_ALBUM_LABEL 1026
#define IDC_ARTIST_LABEL 1027
#define IDC_MODE 1032

// The about box's lines and the settings dialog's fields.
#define IDC_ABOUT_VERSION 1040
#define IDC_ABOUT_LICENCE 1041
#define IDC_ABOUT_HOMEPAGE 1042
#define IDC_ABOUT_SERVICE 1043
#define IDC_SERVICE_HOST 1050
#define IDC_SERVICE_PORT 1051
#define IDC_CONCURRENCY 1052

// System-menu commands.
#define IDM_ABOUTBOX 0x0010
#define IDM_VIEW_RAW 0x0020
#define IDM_INCLUDE_SUBFOLDERS 0x0030
#define IDM_SKIP_EXISTING 0x0040
#define IDM_SETTINGS 0x0050
