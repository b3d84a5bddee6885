// The views of what was sent and received, opened from the dialog after its actions ran: the grid
// view against the PDSCH layout of the slot, the spectrum against the allocation, and the receive
// view against the decoder's input and verdicts.
#include <QLineSeries>
#include <QScatterSeries>
#include <QTableWidget>
#include <algorithm>
#include <cmath>
#include <vector>

#include "app/slot_setup.h"
#include "app/ui/nb_tx_view.h"
#include "app/ui/ue_rx_view.h"
#include "phy/common/dmrs.h"
#include "phy/tx/pdsch_tx.h"
#include "tests/app/ui/ui_test_util.h"
#include "tests/test_util.h"

namespace {

// What each element of antenna port `port`'s grid carries, from the PDSCH entry's layout: data
// of layer `port` on every allocated symbol except the DMRS symbols' no-data subcarriers, the DMRS
// of the layer's port on its CDM group's subcarriers of every DMRS symbol.
std::vector<NrGridRe> expectedGrid(const NrNbConfig& c, int port = 0) {
  const int scN = kScPerRb * c.carrierCfg.nrb;
  std::vector<NrGridRe> g(static_cast<size_t>(kSymbolsPerSlot) * scN, NrGridRe::kEmpty);
  const NrPdschCfg& d = c.pdschCfg[0];
  if (port >= d.layerN) return g;
  NrPdschLayout lay;
  nrPdschLayout(&d, &lay);
  const uint16_t groupSc =
      nrDmrsGroupSc(d.dmrsType, nrDmrsCdmGroup(d.dmrsType, nrDmrsLayerPort(&d, port)));
  for (int l = 0; l < kSymbolsPerSlot; l++)
    for (int r = 0; r < d.rbN; r++)
      for (int k = 0; k < kScPerRb; k++) {
        const size_t i = static_cast<size_t>(l) * scN + kScPerRb * d.rbIdx[r] + k;
        if (lay.dchDmrsSym[l] && ((groupSc >> k) & 1))
          g[i] = NrGridRe::kDmrs;
        else if (l >= lay.startSym && l <= lay.lastSym &&
                 !(lay.dchDmrsSym[l] && lay.dchNoDataSc[k]))
          g[i] = NrGridRe::kData;
      }
  return g;
}

// Compares the view's model of one port with the expected grid; returns the data elements.
int checkGrid(const NrTxSlotModel& m, const std::vector<NrGridRe>& want) {
  if (m.kind.size() != want.size()) return -1;
  int data = 0;
  for (size_t i = 0; i < want.size(); i++) {
    if (m.kind[i] != want[i] || (m.magnitude[i] > 0) != (want[i] != NrGridRe::kEmpty)) {
      qWarning("port %d: symbol %d subcarrier %d differs", m.port, int(i / m.scN), int(i % m.scN));
      return -1;
    }
    data += want[i] == NrGridRe::kData;
  }
  return data;
}

// Two layers on two antenna ports (identity precoding): DMRS type 2, ports 1002 and 1003 sharing
// CDM group 1, no data beside the DMRS.
const char kTwoLayerSlot[] =
    "pdsch:\n"
    "  - {mcsTable: 1, mcs: 16, layers: 2, rbs: [10, 30], symbolStart: 1, symbolCount: 13,\n"
    "     dmrs: {type: 2, firstSymbol: 2, additionalPositions: [9], ports: [1002, 1003],\n"
    "            cdmGroupsWithoutData: 3}}\n"
    "cell: {antennaPorts: 2}\n";

double distanceToNearest(const QPointF& p, const QVector<QPointF>& ideal) {
  double best = 1e9;
  for (const QPointF& q : ideal) best = std::min(best, std::hypot(p.x() - q.x(), p.y() - q.y()));
  return best;
}

}  // namespace

class ViewsTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void gridViewShowsExactlyThePdschAndDmrsElements();
  void spectrumIsConfinedToTheAllocatedSubcarriers();
  void receiveViewHoldsOnePointPerDataReAndTheVerdicts();
  void receiveViewShowsAFailedDecode();
  void viewsOpenBeforeAnyActionAndFollowTheActions();
  void twoLayerSlotShowsEachPortAndEachLayer();
};

void ViewsTest::init() { clearBenchRecords(); }

void ViewsTest::gridViewShowsExactlyThePdschAndDmrsElements() {
  ScopedTempDir dir;
  CVeltra_GUIDlg dlg(false);
  dlg.show();
  CLICK_AND_WAIT(dlg, "gNbTx");
  CLICK_AND_WAIT(dlg, "nrUeRx");
  QTest::mouseClick(buttonOf(dlg, "NbTxView"), Qt::LeftButton);
  CNbTxViewDlg* view = dlg.nbTxView();
  QVERIFY(view && view->isVisible());

  const NrTxSlotModel& m = view->model();
  QVERIFY(m.valid);
  QCOMPARE(m.symN, kSymbolsPerSlot);
  QCOMPARE(m.scN, kScPerRb * 106);
  const std::vector<NrGridRe> want = expectedGrid(gnrNbConfig);
  const int data = checkGrid(m, want);
  const int dmrs = static_cast<int>(std::count(want.begin(), want.end(), NrGridRe::kDmrs));
  QVERIFY(data > 0 && dmrs > 0);
  // The drawn grid: an element is painted exactly when it carries something.
  const QImage img = nrTxGridImage(m);
  QCOMPARE(img.width(), m.symN);
  QCOMPARE(img.height(), m.scN);
  for (int l = 0; l < m.symN; l++)
    for (int k = 0; k < m.scN; k++)
      QCOMPARE(img.pixel(l, k) != kGridEmptyColour,
               want[static_cast<size_t>(l) * m.scN + k] != NrGridRe::kEmpty);
  // Every data element the transmitter filled reached the receiver as one demapper input.
  QCOMPARE(static_cast<uint32_t>(data), gnrDchMwItf.codedBitN / gnrDchMwItf.pdschCfg.Qm);

  // The configured CORESET: its symbols from the search space, its RBs from the record.
  const NrCoresetCfg& cs = gnrNbConfig.coresetCfg[0];
  QCOMPARE(m.coresets.size(), size_t{1});
  QCOMPARE(m.coresets[0].firstSym, int{gnrNbConfig.searchSpaceCfg[0].startSymbol});
  QCOMPARE(m.coresets[0].symN, int{cs.duration});
  QCOMPARE(m.coresets[0].firstSc, kScPerRb * cs.rbIdx[0]);
  QCOMPARE(m.coresets[0].scN, kScPerRb * cs.allocNrb);
}

void ViewsTest::spectrumIsConfinedToTheAllocatedSubcarriers() {
  ScopedTempDir dir;
  CVeltra_GUIDlg dlg(false);
  dlg.show();
  CLICK_AND_WAIT(dlg, "gNbTx");
  QTest::mouseClick(buttonOf(dlg, "NbTxView"), Qt::LeftButton);
  CNbTxViewDlg* view = dlg.nbTxView();
  QVERIFY(view);
  const NrNbConfig& c = gnrNbConfig;
  const QList<QPointF> pts = view->spectrumSeries()->points();
  QCOMPARE(pts.size(), int{c.cellCfg.fftSize});

  // Carrier subcarrier k sits k - 6 nrb subcarriers from the centre (the DC subcarrier carries
  // data in the default slot). Only the PDSCH's subcarriers carry power: the spectrum is exact,
  // one DFT per symbol over its own window.
  QCOMPARE(int{c.carrierCfg.zeroScUsed}, 1);
  const NrPdschCfg& d = c.pdschCfg[0];
  const double half = 6.0 * c.carrierCfg.nrb;
  const double lo = (kScPerRb * d.rbIdx[0] - half) * c.cellCfg.scs / 1000.0;  // MHz
  const double hi = (kScPerRb * (d.rbIdx[d.rbN - 1] + 1) - 1 - half) * c.cellCfg.scs / 1000.0;
  double inMin = 0, outMax = -1e9;
  const double eps = 1e-6;
  for (const QPointF& p : pts) {
    if (p.x() >= lo - eps && p.x() <= hi + eps)
      inMin = std::min(inMin, p.y());
    else
      outMax = std::max(outMax, p.y());
  }
  QVERIFY2(inMin > -20.0, qPrintable(QString::number(inMin)));
  QVERIFY2(outMax < -100.0, qPrintable(QString::number(outMax)));
}

void ViewsTest::receiveViewHoldsOnePointPerDataReAndTheVerdicts() {
  ScopedTempDir dir;
  CVeltra_GUIDlg dlg(false);
  dlg.show();
  CLICK_AND_WAIT(dlg, "gNbTx");
  CLICK_AND_WAIT(dlg, "nrUeRx");
  QTest::mouseClick(buttonOf(dlg, "UeRxView"), Qt::LeftButton);
  CUeRxViewDlg* view = dlg.ueRxView();
  QVERIFY(view && view->isVisible());
  const NrRxSlotModel& m = view->model();
  QVERIFY(m.received && m.dataValid);

  // One point per data RE of the slot: the grid's data elements.
  const std::vector<NrGridRe> grid = expectedGrid(gnrNbConfig);
  const int dataRe = static_cast<int>(std::count(grid.begin(), grid.end(), NrGridRe::kData));
  const NrPdschCfg& d = gnrDchMwItf.pdschCfg;
  int shown = 0;
  for (QScatterSeries* s : view->layerSeries())
    if (s->isVisible()) shown += static_cast<int>(s->count());
  QCOMPARE(shown, dataRe);
  QCOMPARE(m.layerN, int{d.layerN});
  // A clean channel: every point decides to the symbol nearest to it, well inside half the
  // minimum distance of the constellation (64QAM: 2 / sqrt(42)).
  QCOMPARE(m.Qm, 6u);
  QCOMPARE(m.ideal.size(), 64);
  for (const QPointF& p : view->layerSeries()[0]->points())
    QVERIFY2(distanceToNearest(p, m.ideal) < 0.5 / std::sqrt(42.0),
             qPrintable(QStringLiteral("%1, %2").arg(p.x()).arg(p.y())));

  // The histogram counts every soft bit handed to the decoder.
  uint32_t total = 0;
  for (uint32_t c : m.softBitHist) total += c;
  QCOMPARE(total, gnrDchMwItf.codedBitN);
  QCOMPARE(m.softBitN, gnrDchMwItf.codedBitN);

  // One row per code block with its verdict and the iterations it took.
  const NrDlschDecReport& rep = *nrDlschDecLastReport();
  QTableWidget* t = view->verdictTable();
  QCOMPARE(t->rowCount(), rep.cbN);
  QVERIFY(rep.cbN >= 1);
  for (int r = 0; r < rep.cbN; r++) {
    QCOMPARE(t->item(r, 0)->text(), QString::number(r));
    QCOMPARE(t->item(r, 1)->text(), QString::number(rep.cb[r].E));
    QCOMPARE(t->item(r, 2)->text(), QStringLiteral("OK"));
    const int iters = t->item(r, 3)->text().toInt();
    QCOMPARE(iters, int{rep.cb[r].iterUsed});
    QVERIFY(iters >= 1 && iters <= 20);
  }
}

void ViewsTest::receiveViewShowsAFailedDecode() {
  ScopedTempDir dir;
  CVeltra_GUIDlg dlg(false);
  dlg.show();
  CLICK_AND_WAIT(dlg, "gNbTx");
  // The UE takes another RNTI than the one the slot was scrambled with (TS 38.211 7.3.1.1): the
  // constellation is as clean as ever, the decoded bits are not.
  gnrNbConfig.pdschCfg[0].rnti ^= 0x5A5A;
  CLICK_AND_WAIT(dlg, "nrUeRx");
  QTest::mouseClick(buttonOf(dlg, "UeRxView"), Qt::LeftButton);
  CUeRxViewDlg* view = dlg.ueRxView();
  QVERIFY(view);
  const NrRxSlotModel& m = view->model();
  QVERIFY(m.dataValid);
  QTableWidget* t = view->verdictTable();
  QVERIFY(t->rowCount() >= 1);
  for (int r = 0; r < t->rowCount(); r++) {
    QCOMPARE(t->item(r, 2)->text(), QStringLiteral("failed"));
    QCOMPARE(t->item(r, 3)->text(), QStringLiteral("20"));
  }
  QVERIFY(m.summary.contains(QStringLiteral("FAILED")));
}

void ViewsTest::viewsOpenBeforeAnyActionAndFollowTheActions() {
  ScopedTempDir dir;
  CVeltra_GUIDlg dlg(false);
  dlg.show();
  QTest::mouseClick(buttonOf(dlg, "NbTxView"), Qt::LeftButton);
  QTest::mouseClick(buttonOf(dlg, "UeRxView"), Qt::LeftButton);
  CNbTxViewDlg* tx = dlg.nbTxView();
  CUeRxViewDlg* rx = dlg.ueRxView();
  QVERIFY(tx && rx);
  QVERIFY(!tx->model().valid);
  QCOMPARE(tx->spectrumSeries()->count(), 0);
  QVERIFY(!rx->model().received);
  for (QScatterSeries* s : rx->layerSeries()) QCOMPARE(s->count(), 0);
  QCOMPARE(rx->verdictTable()->rowCount(), 0);
  tx->grab();  // paints without a slot
  rx->grab();

  // The open views take the new records when an action has finished.
  CLICK_AND_WAIT(dlg, "gNbTx");
  QVERIFY(tx->model().valid);
  QVERIFY(tx->spectrumSeries()->count() > 0);
  QVERIFY(!rx->model().received);
  CLICK_AND_WAIT(dlg, "nrUeRx");
  QVERIFY(rx->model().received);
  QVERIFY(rx->layerSeries()[0]->count() > 0);
  QVERIFY(rx->verdictTable()->rowCount() >= 1);
  tx->grab();
  rx->grab();

  // A closed view goes; the button opens a fresh one.
  tx->close();
  QTRY_VERIFY(!dlg.nbTxView());
  QTest::mouseClick(buttonOf(dlg, "NbTxView"), Qt::LeftButton);
  QVERIFY(dlg.nbTxView() && dlg.nbTxView()->model().valid);
}

void ViewsTest::twoLayerSlotShowsEachPortAndEachLayer() {
  ScopedTempDir dir;
  writeWholeFile("two_layers.yaml", kTwoLayerSlot);
  QVERIFY(nrSlotSetup("two_layers.yaml", false, 0));
  QCOMPARE(int{gnrNbConfig.pdschCfg[0].layerN}, 2);
  CVeltra_GUIDlg dlg(false);
  dlg.show();
  CLICK_AND_WAIT(dlg, "gNbTx");
  CLICK_AND_WAIT(dlg, "nrUeRx");
  QVERIFY(nrDlschDecLastReport()->tbOk);

  QTest::mouseClick(buttonOf(dlg, "NbTxView"), Qt::LeftButton);
  CNbTxViewDlg* tx = dlg.nbTxView();
  QVERIFY(tx);
  int dataPerPort[2] = {};
  for (int port : {0, 1}) {
    tx->showPort(port);
    const NrTxSlotModel& m = tx->model();
    QCOMPARE(m.portN, 2);
    QCOMPARE(m.port, port);
    dataPerPort[port] = checkGrid(m, expectedGrid(gnrNbConfig, port));
    QVERIFY2(dataPerPort[port] > 0, qPrintable(QString::number(port)));
    QCOMPARE(m.spectrum.size(), int{gnrNbConfig.cellCfg.fftSize});
  }
  QCOMPARE(dataPerPort[0], dataPerPort[1]);

  // One constellation per layer, each with one point per data RE of its port.
  QTest::mouseClick(buttonOf(dlg, "UeRxView"), Qt::LeftButton);
  CUeRxViewDlg* rx = dlg.ueRxView();
  QVERIFY(rx);
  QCOMPARE(rx->model().layerN, 2);
  for (int v : {0, 1}) {
    QVERIFY(rx->layerSeries()[v]->isVisible());
    QCOMPARE(static_cast<int>(rx->layerSeries()[v]->count()), dataPerPort[v]);
    for (const QPointF& p : rx->layerSeries()[v]->points())
      QVERIFY(distanceToNearest(p, rx->model().ideal) < 0.5 / std::sqrt(42.0));
  }
  for (int r = 0; r < rx->verdictTable()->rowCount(); r++)
    QCOMPARE(rx->verdictTable()->item(r, 2)->text(), QStringLiteral("OK"));
}

QTEST_MAIN(ViewsTest)
#include "views_test.moc"
