// The texts and the template geometry of the main dialog, shared by the
// Windows resource script and the Qt dialog. Included by the resource script,
// so it holds nothing but #define lines. Positions and sizes are in dialog
// units: x, y, width, height.
#pragma once

#define ORVANE_DIALOG_CAPTION "Orvane Conversion"
#define ORVANE_DIALOG_RECT 0, 0, 320, 200

#define ORVANE_SELECT_FOLDER_TEXT "Select Folder contain VTT files"
#define ORVANE_SELECT_FOLDER_RECT 10, 10, 100, 14

#define ORVANE_FOLDER_PATH_TEXT "No folder selected."
#define ORVANE_FOLDER_PATH_RECT 10, 35, 230, 14

#define ORVANE_PROCESS_FILES_TEXT "Process Files"
#define ORVANE_PROCESS_FILES_RECT 10, 60, 100, 14

#define ORVANE_CLEAN_TRANSCRIPTS_TEXT "Clean transcripts (drop styling, notes and repeated lines)"
#define ORVANE_CLEAN_TRANSCRIPTS_RECT 10, 85, 300, 10

// The instruction shown by the folder picker.
#define ORVANE_PICKER_TEXT "Select a folder to process .vtt files"
// The title of every message box.
#define ORVANE_MESSAGE_TITLE "Orvane"
