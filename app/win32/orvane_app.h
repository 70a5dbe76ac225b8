// The application object of Orvane.exe: one static instance whose
// InitInstance runs the whole program.
#pragma once

class COrvaneApp {
 public:
  // Shows the main dialog modally. Returns false once it has closed, which
  // tells the entry point to end the process.
  bool InitInstance();
};
