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

// The boxes below Clean transcripts are indented under it: they build on the
// clean transcript and are enabled only while it is ticked.
#define ORVANE_PARAGRAPHS_TEXT "Join lines into paragraphs"
#define ORVANE_PARAGRAPHS_RECT 22, 100, 290, 10

#define ORVANE_TIME_STAMPS_TEXT "Start each paragraph with its time"
#define ORVANE_TIME_STAMPS_RECT 22, 115, 290, 10

// A web page holds the clean paragraphs, timed when the transcript is, so
// this box waits for Clean transcripts alone.
#define ORVANE_WEB_PAGE_TEXT "Also write a web page (.html) for each transcript"
#define ORVANE_WEB_PAGE_RECT 22, 130, 290, 10

// SubRip and SBV files become clean transcripts only, so this box too waits
// for Clean transcripts.
#define ORVANE_ALL_FORMATS_TEXT "Also convert SubRip (.srt) and YouTube (.sbv) caption files"
#define ORVANE_ALL_FORMATS_RECT 22, 145, 290, 10

// The instruction shown by the folder picker.
#define ORVANE_PICKER_TEXT "Select a folder to process .vtt files"
// The title of every message box.
#define ORVANE_MESSAGE_TITLE "Orvane"
