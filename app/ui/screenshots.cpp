// veltra-gui-screenshots DIR: runs gNbTx and nrUeRx through the dialog in a temporary working
// directory, then saves what the display shows of the dialog and of both views as PNG files in
// DIR (veltra-gui.png, veltra-gui-nbtxview.png, veltra-gui-uerxview.png), and the application
// icon (veltra-gui-icon.png). Meant for a virtual X display (scripts/screenshots); exit code 0
// when every file was written.
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QWindow>
#include <cstdio>

#include "app/ui/action_runner.h"
#include "app/ui/app_icon.h"
#include "app/ui/nb_tx_view.h"
#include "app/ui/ue_rx_view.h"
#include "app/ui/veltra_gui_dlg.h"

namespace {

constexpr int kSettleMs = 600;         // time for a window to be mapped and painted
constexpr int kActionLimitMs = 60000;  // an action that takes longer is reported

void pump(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool runAndWait(CVeltra_GUIDlg& dlg, const char* caption) {
  dlg.findChild<QPushButton*>(QLatin1String(caption))->click();
  QElapsedTimer t;
  t.start();
  while (dlg.runner()->busy()) {
    if (t.elapsed() > kActionLimitMs) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

// What the display shows of the window w (its frame excluded), saved as dir/name.
bool shoot(QWidget* w, const QString& dir, const char* name) {
  w->raise();
  w->activateWindow();
  pump(kSettleMs);
  const QPixmap pm = w->screen()->grabWindow(w->winId());
  const QString path = QDir(dir).filePath(QLatin1String(name));
  if (pm.isNull() || !pm.save(path, "PNG")) {
    std::fprintf(stderr, "veltra-gui-screenshots: %s not written\n", qPrintable(path));
    return false;
  }
  std::printf("%s (%dx%d)\n", qPrintable(path), pm.width(), pm.height());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  app.setWindowIcon(veltraAppIcon());
  if (argc != 2) {
    std::fprintf(stderr, "usage: veltra-gui-screenshots DIR\n");
    return 2;
  }
  const QString outDir = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
  QTemporaryDir work;
  if (!work.isValid() || chdir(QFile::encodeName(work.path()).constData()) != 0) {
    std::fprintf(stderr, "veltra-gui-screenshots: no temporary working directory\n");
    return 1;
  }

  CVeltra_GUIDlg dlg(false);
  dlg.move(10, 10);
  dlg.show();
  pump(kSettleMs);
  if (!runAndWait(dlg, "gNbTx") || !runAndWait(dlg, "nrUeRx")) {
    std::fprintf(stderr, "veltra-gui-screenshots: an action did not finish\n");
    return 1;
  }
  bool ok = shoot(&dlg, outDir, "veltra-gui.png");

  dlg.findChild<QPushButton*>(QStringLiteral("NbTxView"))->click();
  dlg.nbTxView()->move(10, 10);
  ok = shoot(dlg.nbTxView(), outDir, "veltra-gui-nbtxview.png") && ok;
  dlg.nbTxView()->close();

  dlg.findChild<QPushButton*>(QStringLiteral("UeRxView"))->click();
  dlg.ueRxView()->move(10, 10);
  ok = shoot(dlg.ueRxView(), outDir, "veltra-gui-uerxview.png") && ok;
  dlg.ueRxView()->close();

  const QString iconPath = QDir(outDir).filePath(QStringLiteral("veltra-gui-icon.png"));
  if (!veltraIconPixmap(128).save(iconPath, "PNG")) {
    std::fprintf(stderr, "veltra-gui-screenshots: %s not written\n", qPrintable(iconPath));
    ok = false;
  }
  return ok ? 0 : 1;
}
