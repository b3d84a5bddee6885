// The application object of veltra-gui: runs the main dialog modally and ends with it.
#pragma once

#include <QApplication>

class CVeltra_GUIApp : public QApplication {
  Q_OBJECT

 public:
  CVeltra_GUIApp(int& argc, char** argv);
  // Runs the main dialog until it is closed; returns the process's exit code.
  int run();
};
