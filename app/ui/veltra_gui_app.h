// The application object of veltra-gui: fixes the slot from the command line, then runs the main
// dialog modally and ends with it.
#pragma once

#include <QApplication>
#include <QStringList>

// Handles veltra-gui's command line (program name first): -C/--directory DIR (work in DIR),
// --slot FILE (a slot description applied on top of the generator's draw) and --seed N (another
// draw), as the console program takes them; --help and --version print and end. Returns -1 when
// the dialog is to open, else the exit code: 0 after --help / --version, 2 for a usage error
// (unknown option, an argument, a directory that cannot be entered, a slot file refused), told on
// standard error.
int nrGuiStartUp(const QStringList& args);

class CVeltra_GUIApp : public QApplication {
  Q_OBJECT

 public:
  CVeltra_GUIApp(int& argc, char** argv);
  // Runs the main dialog until it is closed; returns the process's exit code.
  int run();
};
