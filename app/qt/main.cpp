// Entry point of the desktop program.
#include <csignal>

#include "app/qt/orvane_app.h"

int main(int argc, char** argv) {
  // A transcript that reaches a file-size limit fails with an error that the
  // dialog reports, instead of ending the program.
  std::signal(SIGXFSZ, SIG_IGN);
  orvane::app::COrvaneApp app(argc, argv);
  app.InitInstance();
  return 0;
}
