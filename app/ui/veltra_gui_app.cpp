#include "app/ui/veltra_gui_app.h"

#include <QScreen>
#include <cstdio>

#include "app/ui/app_icon.h"
#include "app/ui/veltra_gui_dlg.h"

CVeltra_GUIApp::CVeltra_GUIApp(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("Veltra_GUI"));
  setApplicationVersion(QStringLiteral("1.0"));
  setWindowIcon(veltraAppIcon());
}

int CVeltra_GUIApp::run() {
  if (!primaryScreen()) {
    std::fputs("Warning: dialog creation failed, so application is terminating unexpectedly.\n",
               stderr);
    return 1;
  }
  CVeltra_GUIDlg dlg;
  dlg.exec();
  return 0;
}
