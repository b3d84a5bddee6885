#include "app/ui/veltra_gui_app.h"

#include <unistd.h>

#include <QCommandLineParser>
#include <QFile>
#include <QScreen>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/exit_codes.h"
#include "app/slot_setup.h"
#include "app/ui/app_icon.h"
#include "app/ui/veltra_gui_dlg.h"
#include "config/console.h"

namespace {
constexpr int kOpenDialog = -1;
}  // namespace

int nrGuiStartUp(const QStringList& args) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Veltra: 5G NR downlink link-level test bench, desktop front end. The buttons gNbTx and "
      "nrUeRx run the actions in the working directory."));
  const QCommandLineOption help = parser.addHelpOption();
  const QCommandLineOption version = parser.addVersionOption();
  const QCommandLineOption dirOpt({QStringLiteral("C"), QStringLiteral("directory")},
                                  QStringLiteral("run the actions in DIR"), QStringLiteral("DIR"));
  const QCommandLineOption slotOpt(
      QStringLiteral("slot"),
      QStringLiteral("slot description (YAML) applied on top of the generator's draw"),
      QStringLiteral("FILE"));
  const QCommandLineOption seedOpt(
      QStringLiteral("seed"), QStringLiteral("generator seed: draw another slot than the default"),
      QStringLiteral("N"));
  parser.addOptions({dirOpt, slotOpt, seedOpt});

  if (!parser.parse(args)) {
    std::fprintf(stderr, "veltra-gui: %s\n", qPrintable(parser.errorText()));
    return kExitUsage;
  }
  if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
    std::fputs(qPrintable(parser.helpText()), stdout);
    return kExitOk;
  }
  if (parser.isSet(version)) {
    std::printf("veltra-gui 1.0\n");
    return kExitOk;
  }
  if (!parser.positionalArguments().isEmpty()) {
    std::fprintf(stderr, "veltra-gui: unexpected argument '%s'\n",
                 qPrintable(parser.positionalArguments().first()));
    return kExitUsage;
  }
  bool hasSeed = parser.isSet(seedOpt);
  uint32_t seed = 0;
  if (hasSeed) {
    bool ok = false;
    seed = parser.value(seedOpt).toUInt(&ok);
    if (!ok) {
      std::fprintf(stderr, "veltra-gui: --seed %s: not an unsigned 32-bit number\n",
                   qPrintable(parser.value(seedOpt)));
      return kExitUsage;
    }
  }
  if (parser.isSet(dirOpt)) {
    const QByteArray dir = QFile::encodeName(parser.value(dirOpt));
    if (chdir(dir.constData()) != 0) {
      std::fprintf(stderr, "veltra-gui: -C %s: %s\n", dir.constData(), std::strerror(errno));
      return kExitUsage;
    }
  }
  // The slot is fixed before the dialog opens: a refused slot file is a usage error.
  const QByteArray slot = QFile::encodeName(parser.value(slotOpt));
  if (!nrSlotSetup(parser.isSet(slotOpt) ? slot.constData() : nullptr, hasSeed, seed)) {
    nrConsoleFlush();
    std::fprintf(stderr, "veltra-gui: slot file %s refused\n", slot.constData());
    return kExitUsage;
  }
  return kOpenDialog;
}

CVeltra_GUIApp::CVeltra_GUIApp(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("Veltra_GUI"));
  setApplicationVersion(QStringLiteral("1.0"));
  setWindowIcon(veltraAppIcon());
}

int CVeltra_GUIApp::run() {
  const int start = nrGuiStartUp(arguments());
  if (start != kOpenDialog) return start;
  if (!primaryScreen()) {
    std::fputs("Warning: dialog creation failed, so application is terminating unexpectedly.\n",
               stderr);
    return 1;
  }
  CVeltra_GUIDlg dlg;
  dlg.exec();
  return kExitOk;
}
