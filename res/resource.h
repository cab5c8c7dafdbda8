// Identifiers shared by the resource script and the program. Plain #defines only: the resource
// compiler reads this file too.
#pragma once

// Dialog templates.
#define IDD_ABOUTBOX 100
#define IDD_FORMAT_DIALOG 156

// Icons and the bitmap.
#define IDR_ABOUT_ICON 128
#define IDR_MAINFRAME 162
#define IDB_BANNER 164
// The banner drawn for screens at 125, 150 and 200 %; 164 is the one for 100 %.
#define IDB_BANNER_125 165
#define IDB_BANNER_150 166
#define IDB_BANNER_200 167

// The banner's picture control in the main dialog, in dialog units (as in the template).
#define BANNER_LEFT 12
#define BANNER_TOP 10
#define BANNER_WIDTH 113
#define BANNER_HEIGHT 23

// Controls of the main dialog. Exit carries the cancel command (IDCANCEL, 2).
#define IDC_EXIT 2
#define IDC_STATUS 1000
#define IDC_PROGRESS 1012
#define IDC_START_STOP 1013
#define IDC_QUICK 1017
#define IDC_FULL 1018
#define IDC_PERCENT 1019
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// System menu command that opens the About dialog.
#define IDM_ABOUTBOX 0x0010

// String table.
#define IDS_ABOUTBOX 101
#define IDS_NO_USB_DISK 103
#define IDS_SECTORS 104
#define IDS_NOT_FORMATTED 105
#define IDS_CLICK_START 106
#define IDS_WRITE_PROTECTED 107
#define IDS_POWERED_OFF 108
#define IDS_MEDIA_NOT_PRESENT 109
#define IDS_FORMATTING 112
#define IDS_FORMAT_COMPLETE 113
#define IDS_FORMAT_CANCELED 114
#define IDS_FORMAT_FAILED 115
#define IDS_TIME_ELAPSED 116
#define IDS_MEDIA_DAMAGED 117
#define IDS_COMPLETE_REPLUG 118
#define IDS_CONFIRM_ERASE 120
#define IDS_TITLE 122
#define IDS_DAMAGED_ABORT_RETRY 126

// Private message: a second copy asks whether this window is a running Brevant.
#define WM_INSTANCE_QUERY 1481
#define INSTANCE_QUERY_ANSWER 0x42726576
