// Resource identifiers of the mode switcher's frame window.
#pragma once

// Title string, menu, accelerator table and icon of the frame.
#define IDR_MAINFRAME 128
#define IDD_ABOUTBOX 100

// Frame commands.
#define ID_FILE_PRINT 0xE107
#define ID_EDIT_COPY 0xE122
#define ID_EDIT_CUT 0xE123
#define ID_EDIT_PASTE 0xE125
#define ID_EDIT_UNDO 0xE12B
#define ID_APP_ABOUT 0xE140
#define ID_APP_EXIT 0xE141
#define ID_VIEW_TOOLBAR 0xE800

// Child windows of the frame.
#define IDW_TOOLBAR 0xE800
#define IDW_PANE_FIRST 0xE900
