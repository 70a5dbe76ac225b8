// The main dialog of Orvane.exe: choose a folder, show it, and convert its
// caption files with the batch run.
#pragma once

#include <windows.h>

#include <string>

class OrvaneDlg {
 public:
  OrvaneDlg() = default;
  OrvaneDlg(const OrvaneDlg&) = delete;
  OrvaneDlg& operator=(const OrvaneDlg&) = delete;

  // Shows the dialog IDD_MAIN_DIALOG without an owner and returns once it has
  // closed, with IDOK or IDCANCEL (-1 when it could not be shown).
  INT_PTR DoModal();

 private:
  // Finds the dialog object stored at WM_INITDIALOG and forwards to it.
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  INT_PTR OnMessage(UINT message, WPARAM wparam, LPARAM lparam);

  // Centres the dialog on its screen and disables the boxes that depend on
  // an unticked one; keeps the focus on the default button.
  BOOL OnInitDialog();
  // Lets the user pick a folder; stores and shows it when it has a file-system path.
  void OnSelectFolder();
  // Converts the caption files of the chosen folder in the style of the ticked
  // boxes, with a web page beside each transcript while that box is ticked
  // and the SubRip and SBV files too while theirs is, reporting in message
  // boxes.
  void OnProcessFiles();

  HWND m_hWnd = nullptr;
  std::wstring m_strFolderPath;
};
