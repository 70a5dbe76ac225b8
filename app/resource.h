// Resource identifiers shared by the desktop programs: the dialog template,
// its controls and the application icon. Also included by the Windows
// resource script, so it holds nothing but #define lines.
#pragma once

#define IDD_MAIN_DIALOG 102
#define IDR_MAINFRAME 128
#define IDC_SELECT_FOLDER 1001
#define IDC_FOLDER_PATH 1002
#define IDC_PROCESS_FILES 1003
#define IDC_CLEAN_TRANSCRIPTS 1004
