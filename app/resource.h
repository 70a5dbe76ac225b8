// Resource identifiers shared by the desktop programs: the dialog template,
// its controls and the application icon, and which check box depends on
// which. Also included by the Windows resource script, so it holds nothing
// but #define lines.
#pragma once

#define IDD_MAIN_DIALOG 102
#define IDR_MAINFRAME 128
#define IDC_SELECT_FOLDER 1001
#define IDC_FOLDER_PATH 1002
#define IDC_PROCESS_FILES 1003
#define IDC_CLEAN_TRANSCRIPTS 1004
#define IDC_PARAGRAPHS 1005
#define IDC_TIME_STAMPS 1006
#define IDC_WEB_PAGE 1007
#define IDC_ALL_FORMATS 1008

// The check boxes that are enabled only while another box is ticked, one
// {box, the box it depends on} pair to a line, for an array initializer. A box
// comes after the box it depends on, so that one pass over the pairs settles
// them all: a box that is not enabled is unticked, and so are the boxes that
// depend on it.
// clang-format off
#define ORVANE_BOX_DEPENDENCIES \
  {IDC_PARAGRAPHS, IDC_CLEAN_TRANSCRIPTS}, \
  {IDC_TIME_STAMPS, IDC_PARAGRAPHS}, \
  {IDC_WEB_PAGE, IDC_CLEAN_TRANSCRIPTS}, \
  {IDC_ALL_FORMATS, IDC_CLEAN_TRANSCRIPTS},
// clang-format on
