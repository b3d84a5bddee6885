#include "app/ui/nb_tx_view.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QPainter>
#include <QSplitter>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

#include "app/slot_setup.h"
#include "config/nr_config.h"
#include "phy/common/dmrs.h"
#include "phy/ofdm/fft.h"
#include "phy/tx/pdsch_tx.h"

const QRgb kGridEmptyColour = qRgb(0xf4, 0xf4, 0xf4);

namespace {

constexpr QRgb kDmrsColour = qRgb(0xe6, 0x55, 0x0d);
constexpr QRgb kCoresetColour = qRgb(0x1b, 0x9e, 0x3e);
constexpr QRgb kCoresetTint = qRgb(0xd2, 0xee, 0xd8);
constexpr double kSpectrumFloorDb = -140.0;  // float waveform: bins below this are rounding noise
constexpr int kMaxPdsch = 10;                // capacity of pdschCfg
constexpr int kZoomMarginRb = 4;             // RBs shown on either side of the PDSCH when zoomed

// Data elements: light to dark blue with the magnitude relative to the largest one.
QRgb dataColour(float rel) {
  rel = std::clamp(rel, 0.0f, 1.0f);
  const float lo[3] = {0xbc, 0xd7, 0xf5};
  const float hi[3] = {0x08, 0x30, 0x6b};
  int c[3];
  for (int i = 0; i < 3; i++) c[i] = static_cast<int>(lo[i] + (hi[i] - lo[i]) * rel);
  return qRgb(c[0], c[1], c[2]);
}

QRgb reColour(NrGridRe kind, float mag, float dataMax) {
  switch (kind) {
    case NrGridRe::kDmrs:
      return kDmrsColour;
    case NrGridRe::kData:
      return dataColour(dataMax > 0 ? mag / dataMax : 1.0f);
    default:
      return kGridEmptyColour;
  }
}

// Whether symbol l of subcarriers [a, b) touches a CORESET region.
bool inCoreset(const NrTxSlotModel& m, int l, int a, int b) {
  for (const NrTxSlotModel::Region& r : m.coresets)
    if (l >= r.firstSym && l < r.firstSym + r.symN && a < r.firstSc + r.scN && b > r.firstSc)
      return true;
  return false;
}

float dataMaxOf(const NrTxSlotModel& m) {
  float mx = 0;
  for (size_t i = 0; i < m.kind.size(); i++)
    if (m.kind[i] == NrGridRe::kData) mx = std::max(mx, m.magnitude[i]);
  return mx;
}

// Mean power spectrum of the 14 symbols of the float waveform (cyclic prefixes skipped), centred
// on the carrier, in dB relative to its peak.
QVector<QPointF> slotSpectrum(const NrNbConfig& cfg, const NrNbTxBuf& buf) {
  QVector<QPointF> out;
  const uint32_t n = cfg.cellCfg.fftSize;
  NrFftPlan* plan = n <= kMaxFftSize ? nrFftForward(n) : nullptr;
  if (!plan || n < 2) return out;
  std::vector<double> power(n, 0.0);
  uint32_t pos = 0;
  for (int l = 0; l < kSymbolsPerSlot; l++) {
    pos += cfg.cellCfg.cpLen[l];
    if (pos + n > static_cast<uint32_t>(kSlotSampleCap)) break;
    for (uint32_t t = 0; t < n; t++) {
      plan->in[t][0] = buf.nbTxSampleF[pos + t].re;
      plan->in[t][1] = buf.nbTxSampleF[pos + t].im;
    }
    fftw_execute(plan->plan);
    for (uint32_t b = 0; b < n; b++)
      power[b] += plan->out[b][0] * plan->out[b][0] + plan->out[b][1] * plan->out[b][1];
    pos += n;
  }
  const double peak = *std::max_element(power.begin(), power.end());
  if (peak <= 0) return out;
  out.reserve(static_cast<int>(n));
  const int half = static_cast<int>(n / 2);
  for (int f = -half; f < half; f++) {
    const double p = power[static_cast<uint32_t>((f + static_cast<int>(n)) % static_cast<int>(n))];
    const double db =
        p > 0 ? std::max(10.0 * std::log10(p / peak), kSpectrumFloorDb) : kSpectrumFloorDb;
    out.append(QPointF(static_cast<double>(f) * cfg.cellCfg.scs / 1000.0, db));
  }
  return out;
}

QString modulationName(uint32_t qm) {
  switch (qm) {
    case 2:
      return QStringLiteral("QPSK");
    case 4:
      return QStringLiteral("16QAM");
    case 6:
      return QStringLiteral("64QAM");
    case 8:
      return QStringLiteral("256QAM");
    default:
      return QStringLiteral("Qm %1").arg(qm);
  }
}

}  // namespace

NrTxSlotModel nrTxSlotModel(int port) {
  NrTxSlotModel m;
  const NrNbConfig& cfg = gnrNbConfig;
  if (!cfg.cfgDone) {
    m.summary = QStringLiteral("No slot transmitted yet: press gNbTx.");
    return m;
  }
  m.valid = true;
  m.portN = nrSlotAntennaPorts(&cfg);
  m.port = std::clamp(port, 0, m.portN - 1);
  const NrNbTxBuf& buf = m.port == 0 ? gnrNbTxBuf : gnrNbTxBuf1;
  m.symN = kSymbolsPerSlot;
  m.scN = kScPerRb * std::min<int>(cfg.carrierCfg.nrb, kMaxRb);
  const size_t cells = static_cast<size_t>(m.symN) * m.scN;
  m.magnitude.assign(cells, 0.0f);
  m.kind.assign(cells, NrGridRe::kEmpty);

  // Where each PDSCH entry that the chain can place sends the DMRS of this port: under identity
  // precoding port v carries layer v and the CDM group of that layer's DMRS port.
  std::vector<uint8_t> dmrs(cells, 0);
  int scLo = m.scN, scHi = -1;
  QString pdschText;
  const int pdschN = std::min<int>(cfg.pdschN, kMaxPdsch);
  for (int p = 0; p < pdschN; p++) {
    const NrPdschCfg& d = cfg.pdschCfg[p];
    if (nrPdschTxCheck(&d)) continue;
    NrPdschLayout lay;
    nrPdschLayout(&d, &lay);
    const bool sent = m.port < d.layerN && d.dmrsEn == 1;
    const uint16_t groupSc =
        sent ? nrDmrsGroupSc(d.dmrsType, nrDmrsCdmGroup(d.dmrsType, nrDmrsLayerPort(&d, m.port)))
             : 0;
    QString dmrsSyms;
    for (int l = 0; l < kSymbolsPerSlot; l++) {
      if (!lay.dchDmrsSym[l]) continue;
      dmrsSyms += (dmrsSyms.isEmpty() ? QString() : QStringLiteral(", ")) + QString::number(l);
      for (int r = 0; r < d.rbN; r++)
        for (int k = 0; k < kScPerRb; k++) {
          const int sc = kScPerRb * d.rbIdx[r] + k;
          if (((groupSc >> k) & 1) && sc < m.scN) dmrs[static_cast<size_t>(l) * m.scN + sc] = 1;
        }
    }
    for (int r = 0; r < d.rbN; r++) {
      scLo = std::min(scLo, kScPerRb * d.rbIdx[r]);
      scHi = std::max(scHi, kScPerRb * d.rbIdx[r] + kScPerRb - 1);
    }
    pdschText += QStringLiteral(
                     "PDSCH %1: RBs %2-%3, symbols %4-%5, MCS %6 (%7), %8 layer(s), TBS %9 bits; "
                     "DMRS type %10 on symbol(s) %11.\n")
                     .arg(p)
                     .arg(d.rbN ? d.rbIdx[0] : 0)
                     .arg(d.rbN ? d.rbIdx[d.rbN - 1] : 0)
                     .arg(lay.startSym)
                     .arg(lay.lastSym)
                     .arg(d.mcs)
                     .arg(modulationName(d.Qm))
                     .arg(d.layerN)
                     .arg(d.tbSize)
                     .arg(d.dmrsType)
                     .arg(dmrsSyms);
  }
  if (scHi >= scLo) {
    m.pdschFirstSc = scLo;
    m.pdschScN = std::min(scHi, m.scN - 1) - scLo + 1;
  }

  for (int l = 0; l < m.symN; l++) {
    const int32_t* row = buf.nbTxGrid[l];
    for (int k = 0; k < m.scN; k++) {
      const int32_t v = row[k];
      if (v == 0) continue;
      const size_t i = static_cast<size_t>(l) * m.scN + k;
      m.magnitude[i] =
          static_cast<float>(std::hypot(static_cast<double>(nrCpxRe(v)), nrCpxIm(v)) / 1024.0);
      m.kind[i] = dmrs[i] ? NrGridRe::kDmrs : NrGridRe::kData;
    }
  }

  // CORESETs by the search spaces that monitor them (TS 38.213 10.1), one region per run of
  // consecutive RBs.
  QString coresetText;
  for (int s = 0; s < std::min<int>(cfg.searchSpaceN, 10); s++) {
    const NrSearchSpaceCfg& ss = cfg.searchSpaceCfg[s];
    for (int c = 0; c < std::min<int>(cfg.coresetN, 3); c++) {
      const NrCoresetCfg& cs = cfg.coresetCfg[c];
      if (cs.coresetId != ss.coresetId) continue;
      const int symN = std::min<int>(cs.duration, kSymbolsPerSlot - ss.startSymbol);
      const int rbN = std::min<int>(cs.allocNrb, kMaxRb);
      for (int r = 0; r < rbN;) {
        int e = r + 1;
        while (e < rbN && cs.rbIdx[e] == cs.rbIdx[e - 1] + 1) e++;
        m.coresets.push_back({ss.startSymbol, symN, kScPerRb * cs.rbIdx[r], kScPerRb * (e - r)});
        r = e;
      }
      coresetText +=
          QStringLiteral("CORESET %1: RBs %2-%3, symbols %4-%5 (configured; no PDCCH is sent).\n")
              .arg(cs.coresetId)
              .arg(rbN ? cs.rbIdx[0] : 0)
              .arg(rbN ? cs.rbIdx[rbN - 1] : 0)
              .arg(ss.startSymbol)
              .arg(ss.startSymbol + symN - 1);
    }
  }

  m.spectrum = slotSpectrum(cfg, buf);
  m.summary = QStringLiteral(
                  "Slot %1 of SFN %2: carrier %3 RBs at %4 kHz, FFT size %5; antenna port %6 of "
                  "%7.\n")
                  .arg(cfg.slotIdx)
                  .arg(cfg.sfn)
                  .arg(cfg.carrierCfg.nrb)
                  .arg(cfg.carrierCfg.scs)
                  .arg(cfg.cellCfg.fftSize)
                  .arg(m.port)
                  .arg(m.portN) +
              pdschText + coresetText;
  m.summary = m.summary.trimmed();
  return m;
}

QImage nrTxGridImage(const NrTxSlotModel& m) {
  if (!m.valid || m.scN == 0) return QImage();
  QImage img(m.symN, m.scN, QImage::Format_RGB32);
  const float dataMax = dataMaxOf(m);
  for (int l = 0; l < m.symN; l++)
    for (int k = 0; k < m.scN; k++) {
      const size_t i = static_cast<size_t>(l) * m.scN + k;
      img.setPixel(l, k, reColour(m.kind[i], m.magnitude[i], dataMax));
    }
  return img;
}

// The grid, frequency upwards and time to the right, over a range of subcarriers. Each screen row
// shows the strongest element of the subcarriers it covers (DMRS before data before empty), so
// that a narrow DMRS comb stays visible when the whole carrier is drawn.
class CNbTxViewDlg::GridWidget : public QWidget {
 public:
  explicit GridWidget(QWidget* parent) : QWidget(parent) { setMinimumSize(360, 300); }
  void setModel(const NrTxSlotModel* m) {
    model_ = m;
    update();
  }
  void setRange(int firstSc, int scN) {
    firstSc_ = firstSc;
    scN_ = scN;
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), palette().window());
    if (!model_ || !model_->valid || scN_ <= 0) {
      p.drawText(rect(), Qt::AlignCenter, QStringLiteral("No slot transmitted yet"));
      return;
    }
    const NrTxSlotModel& m = *model_;
    const QFontMetrics fm(font());
    const int left = fm.horizontalAdvance(QStringLiteral("RB 000")) + 10;
    const int bottom = 2 * fm.height() + 6;
    const QRect plot(left, 8, width() - left - 10, height() - bottom - 8);
    if (plot.width() < m.symN || plot.height() < 10) return;

    const float dataMax = dataMaxOf(m);
    QImage img(m.symN, plot.height(), QImage::Format_RGB32);
    for (int y = 0; y < plot.height(); y++) {
      // Screen row y covers subcarriers [a, b), highest frequency at the top.
      const int row = plot.height() - 1 - y;
      const int a = firstSc_ + static_cast<int>(static_cast<int64_t>(row) * scN_ / plot.height());
      int b = firstSc_ + static_cast<int>(static_cast<int64_t>(row + 1) * scN_ / plot.height());
      b = std::max(b, a + 1);
      for (int l = 0; l < m.symN; l++) {
        NrGridRe kind = NrGridRe::kEmpty;
        float mag = 0;
        for (int k = std::max(a, 0); k < std::min(b, m.scN); k++) {
          const size_t i = static_cast<size_t>(l) * m.scN + k;
          if (m.kind[i] > kind) kind = m.kind[i];
          if (m.kind[i] == NrGridRe::kData) mag = std::max(mag, m.magnitude[i]);
        }
        // Empty elements of a CORESET are tinted; what the PDSCH sends there stays visible.
        QRgb colour = reColour(kind, mag, dataMax);
        if (kind == NrGridRe::kEmpty && inCoreset(m, l, a, b)) colour = kCoresetTint;
        img.setPixel(l, y, colour);
      }
    }
    p.drawImage(plot, img);

    // CORESET regions: outlined.
    const double symW = static_cast<double>(plot.width()) / m.symN;
    const double scH = static_cast<double>(plot.height()) / scN_;
    for (const NrTxSlotModel::Region& r : m.coresets) {
      const double top = plot.bottom() + 1 - (r.firstSc + r.scN - firstSc_) * scH;
      const double bot = plot.bottom() + 1 - (r.firstSc - firstSc_) * scH;
      QRectF box(plot.left() + r.firstSym * symW, top, r.symN * symW, bot - top);
      box = box.intersected(QRectF(plot));
      if (box.isEmpty()) continue;
      p.setPen(QPen(QColor(kCoresetColour), 2, Qt::DashLine));
      p.drawRect(box.adjusted(1, 1, -1, -1));
    }

    // Symbol boundaries and labels.
    p.setPen(QColor(0, 0, 0, 40));
    for (int l = 1; l < m.symN; l++) {
      const int x = plot.left() + static_cast<int>(l * symW);
      p.drawLine(x, plot.top(), x, plot.bottom());
    }
    p.setPen(palette().color(QPalette::WindowText));
    p.drawRect(plot.adjusted(0, 0, -1, -1));
    for (int l = 0; l < m.symN; l++) {
      const QRect cell(plot.left() + static_cast<int>(l * symW), plot.bottom() + 3,
                       static_cast<int>(symW), fm.height());
      p.drawText(cell, Qt::AlignCenter, QString::number(l));
    }
    p.drawText(QRect(plot.left(), plot.bottom() + 3 + fm.height(), plot.width(), fm.height()),
               Qt::AlignCenter, QStringLiteral("OFDM symbol"));

    // RB ticks on the left, at most one label per two text heights.
    const int rbFirst = firstSc_ / kScPerRb;
    const int rbN = std::max(1, scN_ / kScPerRb);
    const double rbH = scH * kScPerRb;
    int step = 1;
    while (step * rbH < 2 * fm.height()) step = step < 5 ? step + (step == 1 ? 1 : 3) : step * 2;
    for (int rb = ((rbFirst + step - 1) / step) * step; rb < rbFirst + rbN; rb += step) {
      const double yc = plot.bottom() + 1 - ((rb - rbFirst) + 0.5) * rbH;
      p.drawLine(plot.left() - 4, static_cast<int>(yc), plot.left(), static_cast<int>(yc));
      p.drawText(QRect(0, static_cast<int>(yc) - fm.height() / 2, plot.left() - 6, fm.height()),
                 Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("RB %1").arg(rb));
    }
  }

 private:
  const NrTxSlotModel* model_ = nullptr;
  int firstSc_ = 0;
  int scN_ = 0;
};

CNbTxViewDlg::CNbTxViewDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("NbTxView"));
  setWindowTitle(QStringLiteral("NbTxView: transmitted slot"));

  summary_ = new QLabel(this);
  summary_->setObjectName(QStringLiteral("summary"));
  summary_->setWordWrap(true);
  summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);

  grid_ = new GridWidget(this);
  range_ = new QComboBox(this);
  range_->setObjectName(QStringLiteral("range"));
  range_->addItem(QStringLiteral("PDSCH RBs"));
  range_->addItem(QStringLiteral("Whole carrier"));
  port_ = new QComboBox(this);
  port_->setObjectName(QStringLiteral("port"));
  port_->addItem(QStringLiteral("antenna port 0"));
  port_->addItem(QStringLiteral("antenna port 1"));
  QLabel* legend = new QLabel(
      QStringLiteral("<span style='color:#08306b'>&#9632;</span> PDSCH data (darker = larger "
                     "magnitude) &nbsp; <span style='color:#e6550d'>&#9632;</span> DMRS &nbsp; "
                     "<span style='color:#1b9e3e'>&#9633;</span> CORESET (configured; no PDCCH "
                     "is sent)"),
      this);
  legend->setWordWrap(true);

  QWidget* gridPane = new QWidget(this);
  QVBoxLayout* gl = new QVBoxLayout(gridPane);
  gl->setContentsMargins(0, 0, 0, 0);
  QHBoxLayout* top = new QHBoxLayout;
  top->addWidget(new QLabel(QStringLiteral("Resource grid, subcarriers:"), gridPane));
  top->addWidget(range_);
  top->addWidget(port_);
  top->addStretch();
  gl->addLayout(top);
  gl->addWidget(grid_, 1);
  gl->addWidget(legend);

  spectrum_ = new QLineSeries;
  spectrum_->setName(QStringLiteral("power spectrum"));
  QPen pen(QColor(0x08, 0x51, 0x9c));
  pen.setWidthF(1.2);
  spectrum_->setPen(pen);
  QChart* chart = new QChart;
  chart->setTitle(QStringLiteral("Waveform spectrum (mean over the 14 symbols)"));
  chart->addSeries(spectrum_);
  chart->legend()->hide();
  freqAxis_ = new QValueAxis;
  freqAxis_->setTitleText(QStringLiteral("offset from the carrier centre (MHz)"));
  freqAxis_->setLabelFormat(QStringLiteral("%.0f"));
  freqAxis_->setTickType(QValueAxis::TicksDynamic);
  freqAxis_->setTickAnchor(0);
  freqAxis_->setTickInterval(5);
  powAxis_ = new QValueAxis;
  powAxis_->setTitleText(QStringLiteral("power (dB re peak)"));
  powAxis_->setLabelFormat(QStringLiteral("%.0f"));
  powAxis_->setTickType(QValueAxis::TicksDynamic);
  powAxis_->setTickAnchor(0);
  powAxis_->setTickInterval(20);
  chart->addAxis(freqAxis_, Qt::AlignBottom);
  chart->addAxis(powAxis_, Qt::AlignLeft);
  spectrum_->attachAxis(freqAxis_);
  spectrum_->attachAxis(powAxis_);
  chartView_ = new QChartView(chart, this);
  chartView_->setRenderHint(QPainter::Antialiasing);
  chartView_->setMinimumSize(420, 300);

  QSplitter* split = new QSplitter(Qt::Horizontal, this);
  split->addWidget(gridPane);
  split->addWidget(chartView_);
  split->setStretchFactor(0, 1);
  split->setStretchFactor(1, 1);

  QVBoxLayout* all = new QVBoxLayout(this);
  all->addWidget(summary_);
  all->addWidget(split, 1);

  connect(range_, &QComboBox::currentIndexChanged, this, &CNbTxViewDlg::applyRange);
  connect(port_, &QComboBox::activated, this, &CNbTxViewDlg::showPort);
  resize(1150, 640);
  refresh();
}

void CNbTxViewDlg::showPort(int port) {
  port_->setCurrentIndex(port);
  refresh();
}

void CNbTxViewDlg::refresh() {
  model_ = nrTxSlotModel(port_->currentIndex());
  // The second port exists only in a two-layer slot.
  port_->setVisible(model_.portN == 2);
  port_->setCurrentIndex(model_.port);
  summary_->setText(model_.summary);
  grid_->setModel(&model_);
  applyRange();

  spectrum_->replace(model_.spectrum);
  if (!model_.spectrum.isEmpty()) {
    freqAxis_->setRange(model_.spectrum.first().x(), model_.spectrum.last().x());
    double lo = 0;
    for (const QPointF& pt : model_.spectrum) lo = std::min(lo, pt.y());
    powAxis_->setRange(std::floor(lo / 20.0) * 20.0, 10.0);
  } else {
    freqAxis_->setRange(-1, 1);
    powAxis_->setRange(-100, 5);
  }
}

void CNbTxViewDlg::applyRange() {
  if (range_->currentIndex() == 0 && model_.pdschScN > 0) {
    const int first = std::max(0, model_.pdschFirstSc - kZoomMarginRb * kScPerRb);
    const int last =
        std::min(model_.scN, model_.pdschFirstSc + model_.pdschScN + kZoomMarginRb * kScPerRb);
    grid_->setRange(first, last - first);
  } else {
    grid_->setRange(0, model_.scN);
  }
}
