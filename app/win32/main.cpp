// Entry point of Orvane.exe.
#include <windows.h>

#include "app/win32/orvane_app.h"

namespace {

COrvaneApp theApp;

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  theApp.InitInstance();
  return 0;
}
