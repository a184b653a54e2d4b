// Resource ids shared by the resource script and the code. Plain defines only:
// the resource compiler's preprocessor reads this file too.
#pragma once

// The main dialog and its controls, in the order the template lists them.
#define IDD_UPDATE_DIALOG 100
#define IDC_UPDATE 1003
#define IDC_SHUTDOWN 1007
#define IDC_LATER 1008
#define IDC_BULLET 149
#define IDC_ILLUSTRATION 1001
#define IDC_CAUTION_ICON 1002
#define IDC_MESSAGE 1004
#define IDC_CAUTION 1005
#define IDC_SPINNER 1006
#define IDC_VERSION 1009

// Application icon group.
#define IDR_MAINFRAME 128

// Art: PNG resources of type "IMG".
#define IDB_BACKGROUND 129
#define IDB_CLOSE_NORMAL 130
#define IDB_CLOSE_PRESSED 131
#define IDB_CLOSE_HOVER 132
#define IDB_CLOSE_DISABLED 133
#define IDB_BULLET 134
#define IDB_ILLUSTRATION 135
#define IDB_CAUTION 136
#define IDB_BUTTON_NORMAL 137
#define IDB_BUTTON_PRESSED 138
#define IDB_BUTTON_HOVER 139
#define IDB_BUTTON_DISABLED 140
#define IDB_SPINNER_FIRST 141
#define IDB_SPINNER_LAST 148
#define IDB_SHUTDOWN_NORMAL 150
#define IDB_LATER_NORMAL 151
#define IDB_WIDE_HOVER 152
#define IDB_WIDE_PRESSED 153

// The SHA-256 of the one image a release may write (64 lower-case hex
// characters, RCDATA). Only a packaged program carries it; see
// scripts/package.sh.
#define IDR_RELEASE_IMAGE_SHA256 300
