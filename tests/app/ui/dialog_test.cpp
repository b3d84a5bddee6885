// The main dialog on the offscreen platform: its controls, the actions behind the buttons, the
// console lines in the edit, the pages, the About box, and buttons or closing while an action
// runs.
#include <sys/stat.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <memory>

#include "app/ui/about_dlg.h"
#include "app/ui/cfg_pages.h"
#include "app/ui/veltra_gui_app.h"
#include "tests/app/ui/ui_test_util.h"
#include "tests/test_util.h"

namespace {

QString editText(const CVeltra_GUIDlg& dlg) {
  return dlg.findChild<QPlainTextEdit*>(QStringLiteral("consoleEdit"))->toPlainText();
}

QString statusText(const CVeltra_GUIDlg& dlg) {
  return dlg.findChild<QLabel*>(QStringLiteral("statusLine"))->text();
}

QString fieldText(QWidget* page, const char* group, const char* field) {
  QGroupBox* g = page->findChild<QGroupBox*>(QLatin1String(group));
  QWidget* scope = g ? static_cast<QWidget*>(g) : page;
  QLineEdit* e = scope->findChild<QLineEdit*>(QLatin1String(field));
  return e ? e->text() : QStringLiteral("<no field %1>").arg(QLatin1String(field));
}

int lineCount(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

}  // namespace

class DialogTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void startsWithItsCaptionsControlsAndTheBringUpText();
  void transmitThenReceiveWritesTheWaveformAndShowsCrcOk();
  void pagesShowTheConfigurationOnceTransmitted();
  void switchingTabsShowsOnlyTheSelectedPage();
  void aboutBoxOpensFromTheMenusAndCloses();
  void uplinkButtonsDoNothing();
  void failedActionIsShownAsFailed();
  void diagnosticsReachTheEdit();
  void clickingWhileAnActionRunsDoesNothing();
  void closingWhileAnActionRunsWaitsForIt();
  void destroyingWhileAnActionRunsWaitsForIt();
  void okClosesTheDialog();
  void commandLineFixesTheSlotOrIsRefused();
};

void DialogTest::init() {
  clearBenchRecords();
  gTxGateOpen = false;
  gTxAtGate = false;
}

void DialogTest::startsWithItsCaptionsControlsAndTheBringUpText() {
  CVeltra_GUIDlg dlg(false);
  dlg.show();
  QCOMPARE(dlg.windowTitle(), QStringLiteral("Veltra"));
  QVERIFY(!dlg.windowIcon().isNull());
  for (const char* caption :
       {"gNbTx", "nrUeRx", "nrUeTx", "gNbRx", "UeTxView", "NbTxView", "UeRxView", "OK"}) {
    QPushButton* b = buttonOf(dlg, caption);
    QVERIFY2(b, caption);
    QCOMPARE(b->text(), QLatin1String(caption));
    QVERIFY(b->isVisible() && b->isEnabled());
  }
  QCOMPARE(editText(dlg), QStringLiteral("Veltra bring up!!!!"));

  QTabWidget* left = dlg.cfgTabs();
  QCOMPARE(left->count(), 3);
  // "&&" shows a literal ampersand on a tab.
  QCOMPARE(left->tabBar()->tabText(0), QStringLiteral("bwp&&Carrier Cfg"));
  QCOMPARE(left->tabBar()->tabText(1), QStringLiteral("coreset&&SS Cfg"));
  QCOMPARE(left->tabBar()->tabText(2), QStringLiteral("SSb Cfg"));
  QTabWidget* right = dlg.findChild<QTabWidget*>(QStringLiteral("ueTxTabs"));
  QVERIFY(right);
  QCOMPARE(right->count(), 1);
  QCOMPARE(right->tabText(0), QStringLiteral("UE Tx Configuration"));

  // The arrows between and beside the buttons.
  QStringList labels;
  for (QLabel* l : dlg.findChildren<QLabel*>()) labels << l->text();
  QVERIFY(labels.contains(QStringLiteral("==>>>>")));
  QVERIFY(labels.contains(QStringLiteral("------------------------------------------------>")));
  QVERIFY(labels.contains(QStringLiteral("<------------------------------------------------")));

  // The labelled fields of the three pages.
  const QStringList bwpFields = {"carrierId", "rbStart", "nrb",      "scs",   "zeroScUsed",
                                 "txPowGain", "bwpId",   "rbOffset", "cpType"};
  for (const QString& f : bwpFields)
    QVERIFY2(left->widget(0)->findChild<QLineEdit*>(f), qPrintable(f));
  for (const char* f :
       {"coresetId", "duration", "allocNrb", "cceN", "dmrsFilled", "Lreg", "intvR", "Nshift"})
    QVERIFY2(left->widget(1)->findChild<QLineEdit*>(QLatin1String(f)), f);
  QVERIFY(left->widget(1)->findChild<QCheckBox*>(QStringLiteral("CchIntvEn")));
  QVERIFY(left->widget(1)->findChild<QGroupBox*>(QStringLiteral("SearchSpaceCfg")));
  QVERIFY(left->widget(2)->findChild<QCheckBox*>(QStringLiteral("ssb_enable")));
  QVERIFY(left->widget(2)->findChild<QLineEdit*>(QStringLiteral("start_Subcarrier")));
  QVERIFY(left->widget(2)->findChild<QLineEdit*>(QStringLiteral("start_symbol")));
  QVERIFY(left->widget(2)->findChild<QComboBox*>(QStringLiteral("scsCfg")));
}

void DialogTest::transmitThenReceiveWritesTheWaveformAndShowsCrcOk() {
  ScopedTempDir dir;
  CVeltra_GUIDlg dlg(false);
  dlg.show();
  QSignalSpy finished(dlg.runner(), &NrActionRunner::finished);

  CLICK_AND_WAIT(dlg, "gNbTx");
  QCOMPARE(finished.count(), 1);
  QCOMPARE(finished[0][0].toString(), QStringLiteral("gNbTx"));
  QVERIFY(finished[0][1].toBool());
  QCOMPARE(lineCount(readWholeFile("nrNbTxData.dat")), 30720);
  QCOMPARE(readWholeFile("nrNbTxDataf.dat").size(), size_t{245760});
  QVERIFY(statusText(dlg).contains(QStringLiteral("gNbTx succeeded")));

  CLICK_AND_WAIT(dlg, "nrUeRx");
  QCOMPARE(finished.count(), 2);
  QVERIFY(finished[1][1].toBool());
  const QString text = editText(dlg);
  QVERIFY2(text.contains(QStringLiteral("===>Enter Dec module! codeword: [0] dec CRC OK")),
           qPrintable(text));
  QVERIFY(text.contains(QStringLiteral("the PDSCH decode  finished")));
  // The console lines appear in the order printed, after the bring-up text.
  QVERIFY(text.startsWith(QStringLiteral("Veltra bring up!!!!")));
  QVERIFY(text.indexOf(QStringLiteral("dec CRC OK")) <
          text.indexOf(QStringLiteral("the PDSCH decode  finished")));
  QVERIFY(statusText(dlg).contains(QStringLiteral("nrUeRx succeeded")));
  QCOMPARE(readWholeFile("DecBuff.txt"), readWholeFile("EncCrcBuff.txt"));
}

void DialogTest::pagesShowTheConfigurationOnceTransmitted() {
  ScopedTempDir dir;
  CVeltra_GUIDlg dlg(false);
  dlg.show();
  QWidget* bwp = dlg.cfgTabs()->widget(0);
  QWidget* cs = dlg.cfgTabs()->widget(1);
  QWidget* ssb = dlg.cfgTabs()->widget(2);
  // Nothing generated yet: nothing to show.
  for (QLineEdit* e : dlg.cfgTabs()->findChildren<QLineEdit*>()) {
    QVERIFY(e->text().isEmpty());
    QVERIFY(e->isReadOnly());
  }

  CLICK_AND_WAIT(dlg, "gNbTx");
  const NrNbConfig& c = gnrNbConfig;
  QVERIFY(c.cfgDone);
  auto num = [](long long v) { return QString::number(v); };
  QCOMPARE(fieldText(bwp, "carrierCfg", "carrierId"), num(c.carrierCfg.carrierId));
  QCOMPARE(fieldText(bwp, "carrierCfg", "rbStart"), num(c.carrierCfg.rbStart));
  QCOMPARE(fieldText(bwp, "carrierCfg", "nrb"), QStringLiteral("106"));
  QCOMPARE(fieldText(bwp, "carrierCfg", "scs"), QStringLiteral("15"));
  QCOMPARE(fieldText(bwp, "carrierCfg", "zeroScUsed"), num(c.carrierCfg.zeroScUsed));
  QCOMPARE(fieldText(bwp, "carrierCfg", "txPowGain"), QStringLiteral("1024"));
  QCOMPARE(fieldText(bwp, "bwpCfg", "bwpId"), num(c.bwpCfg.bwpId));
  QCOMPARE(fieldText(bwp, "bwpCfg", "rbOffset"), num(c.bwpCfg.rbOffset));
  QCOMPARE(fieldText(bwp, "bwpCfg", "nrb"), num(c.bwpCfg.nrb));
  QCOMPARE(fieldText(bwp, "bwpCfg", "scs"), num(c.bwpCfg.scs));
  QCOMPARE(fieldText(bwp, "bwpCfg", "cpType"), num(c.bwpCfg.cpType));

  const NrCoresetCfg& k = c.coresetCfg[0];
  QCOMPARE(fieldText(cs, "CoresetCfg", "coresetId"), num(k.coresetId));
  QCOMPARE(fieldText(cs, "CoresetCfg", "duration"), num(k.duration));
  QCOMPARE(fieldText(cs, "CoresetCfg", "allocNrb"), num(k.allocNrb));
  QCOMPARE(fieldText(cs, "CoresetCfg", "cceN"), num(k.cceN));
  QCOMPARE(fieldText(cs, "CoresetCfg", "dmrsFilled"), num(k.dmrsFilled));
  QCOMPARE(fieldText(cs, "CoresetCfg", "Lreg"), num(k.Lreg));
  QCOMPARE(fieldText(cs, "CoresetCfg", "intvR"), num(k.intvR));
  QCOMPARE(fieldText(cs, "CoresetCfg", "Nshift"), num(k.Nshift));
  QCOMPARE(cs->findChild<QCheckBox*>(QStringLiteral("CchIntvEn"))->isChecked(), k.CchIntvEn == 1);

  QCOMPARE(fieldText(ssb, "", "start_Subcarrier"), num(c.ssbCfg.start_Subcarrier));
  QCOMPARE(fieldText(ssb, "", "start_symbol"), num(c.ssbCfg.start_symbol));
  QCOMPARE(ssb->findChild<QComboBox*>(QStringLiteral("scsCfg"))->currentText(),
           num(c.ssbCfg.scsCfg));
  // No stage transmits an SS/PBCH block.
  QVERIFY(!ssb->findChild<QCheckBox*>(QStringLiteral("ssb_enable"))->isChecked());
}

void DialogTest::switchingTabsShowsOnlyTheSelectedPage() {
  CVeltra_GUIDlg dlg(false);
  dlg.show();
  QVERIFY(QTest::qWaitForWindowExposed(&dlg));
  QTabWidget* tabs = dlg.cfgTabs();
  QCOMPARE(tabs->currentIndex(), 0);
  for (int sel : {2, 1, 0, 2}) {
    // A click on the tab itself, as a user selects it.
    QTest::mouseClick(tabs->tabBar(), Qt::LeftButton, {}, tabs->tabBar()->tabRect(sel).center());
    QCOMPARE(tabs->currentIndex(), sel);
    for (int i = 0; i < tabs->count(); i++)
      QVERIFY2(tabs->widget(i)->isVisible() == (i == sel),
               qPrintable(QStringLiteral("page %1 with tab %2 selected").arg(i).arg(sel)));
  }
}

void DialogTest::aboutBoxOpensFromTheMenusAndCloses() {
  CVeltra_GUIDlg dlg(false);
  dlg.show();
  // The entry sits in the Help menu and in the dialog's context menu.
  QMenuBar* bar = dlg.findChild<QMenuBar*>();
  QVERIFY(bar);
  QMenu* help = nullptr;
  for (QAction* a : bar->actions())
    if (a->text() == QStringLiteral("&Help")) help = a->menu();
  QVERIFY(help);
  QVERIFY(help->actions().contains(dlg.aboutAction()));
  QCOMPARE(dlg.contextMenuPolicy(), Qt::ActionsContextMenu);
  QVERIFY(dlg.actions().contains(dlg.aboutAction()));
  QCOMPARE(dlg.aboutAction()->text(), QStringLiteral("&About Veltra_GUI..."));

  // The box is modal: inspect and close it from inside its own event loop.
  bool seen = false;
  QTimer::singleShot(0, [&] {
    CAboutDlg* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
    QVERIFY(about);
    seen = true;
    QCOMPARE(about->windowTitle(), QStringLiteral("About Veltra_GUI"));
    QCOMPARE(about->findChild<QLabel*>(QStringLiteral("aboutName"))->text(),
             QStringLiteral("Veltra_GUI, Version 1.0"));
    QVERIFY(!about->findChild<QLabel*>(QStringLiteral("aboutLine"))->text().isEmpty());
    QPushButton* ok = nullptr;
    for (QPushButton* b : about->findChildren<QPushButton*>())
      if (b->text() == QStringLiteral("OK")) ok = b;
    QVERIFY(ok);
    QTest::mouseClick(ok, Qt::LeftButton);
  });
  dlg.aboutAction()->trigger();
  QVERIFY(seen);
  QVERIFY(!QApplication::activeModalWidget() ||
          !qobject_cast<CAboutDlg*>(QApplication::activeModalWidget()));
  QVERIFY(dlg.isVisible());
}

void DialogTest::uplinkButtonsDoNothing() {
  ScopedTempDir dir;
  CVeltra_GUIDlg dlg(false);
  dlg.show();
  QSignalSpy started(dlg.runner(), &NrActionRunner::started);
  for (const char* caption : {"nrUeTx", "gNbRx", "UeTxView"}) {
    QTest::mouseClick(buttonOf(dlg, caption), Qt::LeftButton);
    QTest::qWait(50);
  }
  QCOMPARE(started.count(), 0);
  QVERIFY(!dlg.runner()->busy());
  QCOMPARE(editText(dlg), QStringLiteral("Veltra bring up!!!!"));
  QCOMPARE(statusText(dlg), QStringLiteral("Ready"));
  QVERIFY(dlg.isVisible());
  // No window opened either.
  int shown = 0;
  for (QWidget* w : QApplication::topLevelWidgets()) shown += w->isVisible();
  QCOMPARE(shown, 1);
  QVERIFY(QDir().entryList(QDir::Files | QDir::NoDotAndDotDot).isEmpty());
}

void DialogTest::failedActionIsShownAsFailed() {
  ScopedTempDir dir;
  CVeltra_GUIDlg dlg(false);
  dlg.show();
  QSignalSpy finished(dlg.runner(), &NrActionRunner::finished);
  // A receive without a transmit in this process: no configuration, invalid data.
  CLICK_AND_WAIT(dlg, "nrUeRx");
  QCOMPARE(finished.count(), 1);
  QVERIFY(!finished[0][1].toBool());
  QVERIFY(statusText(dlg).contains(QStringLiteral("nrUeRx FAILED")));
  const QStringList lines = editText(dlg).split(QLatin1Char('\n'));
  QCOMPARE(lines.last(), QStringLiteral("---- nrUeRx FAILED ----"));
  QVERIFY(lines.contains(QStringLiteral("the PDSCH decode: invalid data, cannot do dec ")));
}

void DialogTest::diagnosticsReachTheEdit() {
  ScopedTempDir dir;
  QVERIFY(mkdir("nrNbTxDataf.dat", 0700) == 0);  // a directory where the float waveform goes
  CVeltra_GUIDlg dlg(false);
  dlg.show();
  CLICK_AND_WAIT(dlg, "gNbTx");
  const QString text = editText(dlg);
  // The quoted line (output stream) and our own diagnostic naming the file (error stream).
  QVERIFY2(text.contains(QStringLiteral("Fail to open file: nrNbTxDataf.dat!")), qPrintable(text));
  int diagLines = 0;
  for (const QString& l : text.split(QLatin1Char('\n')))
    if (l.contains(QStringLiteral("nrNbTxDataf.dat")) && !l.startsWith(QStringLiteral("Fail")))
      diagLines++;
  QVERIFY2(diagLines >= 1, qPrintable(text));
  QVERIFY(statusText(dlg).contains(QStringLiteral("gNbTx FAILED")));
}

void DialogTest::clickingWhileAnActionRunsDoesNothing() {
  ScopedTempDir dir;
  CVeltra_GUIDlg dlg(false);
  dlg.setActions(kGatedActions, 2);
  dlg.show();
  QSignalSpy started(dlg.runner(), &NrActionRunner::started);
  QTest::mouseClick(buttonOf(dlg, "gNbTx"), Qt::LeftButton);
  QTRY_VERIFY(gTxAtGate.load());
  QVERIFY(dlg.runner()->busy());
  QCOMPARE(started.count(), 1);

  // Every button, by mouse and programmatically: nothing starts while gNbTx holds.
  for (const char* caption : {"gNbTx", "nrUeRx", "NbTxView", "UeRxView", "nrUeTx", "gNbRx"}) {
    QPushButton* b = buttonOf(dlg, caption);
    QTest::mouseClick(b, Qt::LeftButton);
    b->click();
    QTest::keyClick(b, Qt::Key_Space);
  }
  QTest::qWait(100);
  QCOMPARE(started.count(), 1);
  QVERIFY(!dlg.nbTxView());
  QVERIFY(!dlg.ueRxView());
  QVERIFY(!buttonOf(dlg, "gNbTx")->isEnabled());
  QVERIFY(!buttonOf(dlg, "nrUeRx")->isEnabled());
  QVERIFY(!dlg.runner()->start(&kGatedActions[1]));  // the runner refuses a second one itself

  gTxGateOpen = true;
  QTRY_VERIFY_WITH_TIMEOUT(!dlg.runner()->busy(), kActionTimeoutMs);
  QCOMPARE(started.count(), 1);
  QVERIFY(!editText(dlg).contains(QStringLiteral("nrUeRx")));
  QVERIFY(buttonOf(dlg, "gNbTx")->isEnabled());
  QVERIFY(buttonOf(dlg, "nrUeRx")->isEnabled());
}

void DialogTest::closingWhileAnActionRunsWaitsForIt() {
  ScopedTempDir dir;
  CVeltra_GUIDlg dlg(false);
  dlg.setActions(kGatedActions, 2);
  dlg.show();
  QTest::mouseClick(buttonOf(dlg, "gNbTx"), Qt::LeftButton);
  QTRY_VERIFY(gTxAtGate.load());

  // The close button of the window, Escape and OK: the dialog stays until gNbTx is done.
  QVERIFY(!dlg.close());
  QTest::keyClick(&dlg, Qt::Key_Escape);
  QTest::mouseClick(buttonOf(dlg, "OK"), Qt::LeftButton);
  QVERIFY(dlg.isVisible());
  QVERIFY(statusText(dlg).contains(QStringLiteral("Closing once gNbTx has finished")));

  gTxGateOpen = true;
  QTRY_VERIFY_WITH_TIMEOUT(!dlg.isVisible(), kActionTimeoutMs);
  QVERIFY(!dlg.runner()->busy());
  // The action ran to its end: both waveform files are complete.
  QCOMPARE(lineCount(readWholeFile("nrNbTxData.dat")), 30720);
  QCOMPARE(readWholeFile("nrNbTxDataf.dat").size(), size_t{245760});
}

void DialogTest::destroyingWhileAnActionRunsWaitsForIt() {
  ScopedTempDir dir;
  auto dlg = std::make_unique<CVeltra_GUIDlg>(false);
  dlg->setActions(kGatedActions, 2);
  dlg->show();
  QTest::mouseClick(buttonOf(*dlg, "gNbTx"), Qt::LeftButton);
  QTRY_VERIFY(gTxAtGate.load());
  std::thread opener([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    gTxGateOpen = true;
  });
  dlg.reset();  // blocks until gNbTx has returned
  opener.join();
  QCOMPARE(lineCount(readWholeFile("nrNbTxData.dat")), 30720);
  // Lines the action queued for the dialog are dropped with it, and the console has its default
  // destinations back.
  QCoreApplication::processEvents();
  QCOMPARE(captureStdout([] { nrPrintf("after the dialog\n"); }),
           std::string("after the dialog\n"));
}

void DialogTest::okClosesTheDialog() {
  CVeltra_GUIDlg dlg(false);
  dlg.show();
  QVERIFY(dlg.isVisible());
  QTest::mouseClick(buttonOf(dlg, "OK"), Qt::LeftButton);
  QVERIFY(!dlg.isVisible());
  QCOMPARE(dlg.result(), int{QDialog::Accepted});
}

// The options the console program takes: -C, --slot, --seed; anything else is a usage error
// (exit code 2) before the dialog opens.
void DialogTest::commandLineFixesTheSlotOrIsRefused() {
  ScopedTempDir dir;
  const QString prog = QStringLiteral("veltra-gui");
  QVERIFY(mkdir("sub", 0700) == 0);
  writeWholeFile("sub/one.yaml", "pdsch:\n  - {mcs: 5, layers: 1}\n");
  writeWholeFile("sub/bad.yaml", "pdsch: [\n");
  struct Case {
    QStringList args;
    int exit;
  };
  const Case refused[] = {
      {{prog, QStringLiteral("gNbTx")}, 2},
      {{prog, QStringLiteral("--nope")}, 2},
      {{prog, QStringLiteral("--seed"), QStringLiteral("x")}, 2},
      {{prog, QStringLiteral("-C"), QStringLiteral("missing-dir")}, 2},
      {{prog, QStringLiteral("--slot"), QStringLiteral("sub/missing.yaml")}, 2},
      {{prog, QStringLiteral("--slot"), QStringLiteral("sub/bad.yaml")}, 2},
  };
  for (const Case& c : refused) {
    int got = 0;
    captureConsole([&] { got = nrGuiStartUp(c.args); });
    QVERIFY2(got == c.exit, qPrintable(c.args.join(QLatin1Char(' '))));
  }
  QVERIFY(!QDir::currentPath().endsWith(QStringLiteral("/sub")));
  // -C first, then the slot file relative to the new working directory.
  clearBenchRecords();
  QCOMPARE(nrGuiStartUp({prog, QStringLiteral("-C"), QStringLiteral("sub"),
                         QStringLiteral("--slot"), QStringLiteral("one.yaml")}),
           -1);
  QVERIFY(QDir::currentPath().endsWith(QStringLiteral("/sub")));
  QCOMPARE(int{gnrNbConfig.cfgDone}, 1);
  QCOMPARE(int{gnrNbConfig.pdschCfg[0].mcs}, 5);
  QVERIFY(chdir("..") == 0);
}

QTEST_MAIN(DialogTest)
#include "dialog_test.moc"
