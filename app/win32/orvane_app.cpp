#include "app/win32/orvane_app.h"

#include <windows.h>
// windows.h first: the others rely on its types.
#include <commctrl.h>
#include <objbase.h>

#include "app/win32/orvane_dlg.h"

namespace {

// Keeps COM initialised for the shell's folder picker while it is alive.
class ComApartment {
 public:
  ComApartment() : ok_(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ~ComApartment() {
    if (ok_) ::CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  bool ok_;
};

}  // namespace

bool COrvaneApp::InitInstance() {
  // Registers the version 6 control classes that the manifest asks for, so
  // the buttons take the native look.
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof(controls);
  controls.dwICC = ICC_STANDARD_CLASSES;
  ::InitCommonControlsEx(&controls);
  ComApartment com;

  OrvaneDlg dialog;
  dialog.DoModal();  // cancelled or not, the program ends when it closes
  return false;
}
