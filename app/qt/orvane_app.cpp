#include "app/qt/orvane_app.h"

#include "app/qt/message_service.h"
#include "app/qt/orvane_dlg.h"

namespace orvane::app {

COrvaneApp::COrvaneApp(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QString::fromLatin1(kApplicationName));
  // Lets the desktop match the windows to orvane.desktop and its icon.
  setDesktopFileName(QStringLiteral("orvane"));
}

bool COrvaneApp::InitInstance() {
  setWindowIcon(ApplicationIcon());
  OrvaneDlg dialog;
  dialog.DoModal();
  return false;
}

QIcon ApplicationIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 256}) {
    icon.addFile(QStringLiteral(":/icons/orvane-%1.png").arg(size), QSize(size, size));
  }
  return icon;
}

}  // namespace orvane::app
