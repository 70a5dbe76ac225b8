// Entry point of the desktop program.
#include <csignal>

#include "app/qt/orvane_app.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  // Before anything is opened: a closed standard stream's number would go to
  // the first file opened, and Qt's warnings would land in a transcript.
  orvane::platform::GuardStandardStreams();
  // A desktop logout ends the program with SIGTERM: no temporary file stays.
  orvane::platform::RemoveTemporariesOnSignals();
  // A transcript that reaches a file-size limit fails with an error that the
  // dialog reports, instead of ending the program.
  std::signal(SIGXFSZ, SIG_IGN);
  orvane::app::COrvaneApp app(argc, argv);
  app.InitInstance();
  return 0;
}
