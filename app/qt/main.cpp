// Entry point of the desktop program.
#include "app/qt/orvane_app.h"

int main(int argc, char** argv) {
  orvane::app::COrvaneApp app(argc, argv);
  app.InitInstance();
  return 0;
}
