// The application object of the desktop program.
#pragma once

#include <QApplication>
#include <QIcon>

namespace orvane::app {

class COrvaneApp : public QApplication {
  Q_OBJECT

 public:
  // Sets up the toolkit; `argc` and `argv` are Qt's own options only.
  COrvaneApp(int& argc, char** argv);

  // Shows the main dialog until the user closes it, then returns false: the
  // program has nothing left to do and ends.
  bool InitInstance();
};

// The application icon (IDR_MAINFRAME) at 16, 24, 32, 48 and 256 pixels.
QIcon ApplicationIcon();

}  // namespace orvane::app
