#include "app/ui/ue_rx_view.h"

#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QHeaderView>
#include <QLabel>
#include <QLineSeries>
#include <QScatterSeries>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

#include "config/nr_config.h"
#include "phy/rx/pdsch_rx.h"
#include "phy/tx/modulate.h"

namespace {

constexpr int kMaxLayerSeries = kMaxLayers;
const QColor kLayerColour[kMaxLayerSeries] = {QColor(0x21, 0x66, 0xac), QColor(0xb2, 0x18, 0x2b)};

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

// Every symbol of the modulation (TS 38.211 5.1), through the bench's own mapper.
QVector<QPointF> idealPoints(uint32_t qm) {
  QVector<QPointF> pts;
  if (qm != 2 && qm != 4 && qm != 6 && qm != 8) return pts;
  const int n = 1 << qm;
  std::vector<int16_t> bipolar(static_cast<size_t>(n) * qm);
  for (int s = 0; s < n; s++)
    for (uint32_t b = 0; b < qm; b++)
      bipolar[static_cast<size_t>(s) * qm + b] = ((s >> (qm - 1 - b)) & 1) ? -1 : 1;
  std::vector<int32_t> sym(n);
  if (!nrModulate(sym.data(), bipolar.data(), n * static_cast<int32_t>(qm),
                  static_cast<uint16_t>(qm)))
    return pts;
  for (int32_t v : sym) pts.append(QPointF(nrCpxRe(v) / 1024.0, nrCpxIm(v) / 1024.0));
  return pts;
}

}  // namespace

NrRxSlotModel nrRxSlotModel() {
  NrRxSlotModel m;
  const NrDchMwItf& dch = gnrDchMwItf;
  if (!dch.rxDone) {
    m.summary = QStringLiteral("No receive yet: press gNbTx, then nrUeRx.");
    return m;
  }
  m.received = true;
  m.dataValid = dch.dataValid != 0;
  m.Qm = dch.pdschCfg.Qm;
  m.layerN = std::clamp<int>(dch.pdschCfg.layerN, 1, kMaxLayerSeries);

  // The demapper's inputs: codedBitN / Qm of them, layers interleaved element by element.
  uint32_t inputs = m.Qm ? dch.codedBitN / m.Qm : 0;
  inputs = std::min<uint32_t>(inputs, kUeDchDemapInCap);
  m.points.resize(m.layerN);
  for (QVector<QPointF>& layer : m.points) layer.reserve(static_cast<int>(inputs / m.layerN + 1));
  for (uint32_t i = 0; i < inputs; i++) {
    const int32_t v = gnrUeDchDemapIn[i];
    m.points[static_cast<int>(i % m.layerN)].append(
        QPointF(nrCpxRe(v) / 1024.0, nrCpxIm(v) / 1024.0));
  }
  m.ideal = idealPoints(m.Qm);

  m.softBitN = std::min<uint32_t>(dch.codedBitN, kUeLlrCap);
  for (uint32_t i = 0; i < m.softBitN; i++) {
    const int b = std::clamp(ueLlrBuf[i] - kSoftBitMin, 0, kSoftBitBins - 1);
    m.softBitHist[b]++;
  }

  QString verdict;
  if (m.dataValid) {
    m.decode = *nrDlschDecLastReport();
    int okN = 0;
    for (int r = 0; r < m.decode.cbN; r++) okN += m.decode.cb[r].crcOk;
    if (m.decode.cbN == 0)
      verdict = QStringLiteral("the decoder refused the transport block");
    else if (m.decode.tbOk)
      verdict = QStringLiteral("transport block received, every code block's CRC checks");
    else
      verdict = QStringLiteral("transport block FAILED: %1 of %2 code blocks check")
                    .arg(okN)
                    .arg(m.decode.cbN);
  } else {
    verdict = QStringLiteral("invalid data, not decoded");
  }
  m.summary =
      QStringLiteral(
          "Last nrUeRx: %1, %2 layer(s), %3 data REs, G = %4 soft bits, TBS %5 bits, "
          "effective code rate %6%7.\n%8.")
          .arg(modulationName(m.Qm))
          .arg(m.layerN)
          .arg(inputs / m.layerN)
          .arg(dch.codedBitN)
          .arg(dch.tbSize)
          .arg(static_cast<double>(dch.codeRate), 0, 'f', 3)
          .arg(m.dataValid && m.decode.cbN
                   ? QStringLiteral(", LDPC base graph %1, Zc %2").arg(m.decode.bg).arg(m.decode.Zc)
                   : QString())
          .arg(verdict);
  return m;
}

CUeRxViewDlg::CUeRxViewDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("UeRxView"));
  setWindowTitle(QStringLiteral("UeRxView: last receive"));

  summary_ = new QLabel(this);
  summary_->setObjectName(QStringLiteral("summary"));
  summary_->setWordWrap(true);
  summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);

  // Constellation: the equalised data REs of each layer over the ideal points.
  QChart* cc = new QChart;
  cc->setTitle(QStringLiteral("Equalised constellation (demapper input)"));
  constX_ = new QValueAxis;
  constY_ = new QValueAxis;
  constX_->setTitleText(QStringLiteral("I"));
  constY_->setTitleText(QStringLiteral("Q"));
  cc->addAxis(constX_, Qt::AlignBottom);
  cc->addAxis(constY_, Qt::AlignLeft);
  // The ideal points as rings under the received ones.
  ideal_ = new QScatterSeries;
  ideal_->setName(QStringLiteral("ideal"));
  ideal_->setMarkerSize(11);
  ideal_->setColor(Qt::transparent);
  ideal_->setBorderColor(QColor(0x60, 0x60, 0x60));
  cc->addSeries(ideal_);
  ideal_->attachAxis(constX_);
  ideal_->attachAxis(constY_);
  for (int l = 0; l < kMaxLayerSeries; l++) {
    QScatterSeries* s = new QScatterSeries;
    s->setName(QStringLiteral("layer %1").arg(l));
    s->setMarkerSize(5);
    s->setColor(kLayerColour[l]);
    s->setBorderColor(kLayerColour[l]);
    cc->addSeries(s);
    s->attachAxis(constX_);
    s->attachAxis(constY_);
    layers_.append(s);
  }
  constView_ = new QChartView(cc, this);
  constView_->setRenderHint(QPainter::Antialiasing);
  constView_->setMinimumSize(380, 380);

  // Soft-bit histogram as a filled step curve.
  // The area series does not own its curve: the curve is its child, gone with it.
  hist_ = new QAreaSeries;
  histUpper_ = new QLineSeries(hist_);
  hist_->setUpperSeries(histUpper_);
  hist_->setName(QStringLiteral("soft bits"));
  hist_->setColor(QColor(0x6b, 0xae, 0xd6));
  hist_->setBorderColor(QColor(0x08, 0x51, 0x9c));
  QChart* hc = new QChart;
  hc->setTitle(QStringLiteral("Soft bits into the decoder"));
  hc->addSeries(hist_);
  hc->legend()->hide();
  QValueAxis* hx = new QValueAxis;
  hx->setRange(kSoftBitMin - 0.5, kSoftBitMin + kSoftBitBins + 0.5);
  hx->setTickType(QValueAxis::TicksDynamic);
  hx->setTickAnchor(0);
  hx->setTickInterval(8);
  hx->setLabelFormat(QStringLiteral("%.0f"));
  hx->setTitleText(QStringLiteral("soft bit value (positive = bit 0)"));
  histY_ = new QValueAxis;
  histY_->setLabelFormat(QStringLiteral("%.0f"));
  histY_->setTitleText(QStringLiteral("count"));
  hc->addAxis(hx, Qt::AlignBottom);
  hc->addAxis(histY_, Qt::AlignLeft);
  hist_->attachAxis(hx);
  hist_->attachAxis(histY_);
  histView_ = new QChartView(hc, this);
  histView_->setRenderHint(QPainter::Antialiasing);
  histView_->setMinimumSize(360, 240);

  table_ = new QTableWidget(0, 4, this);
  table_->setObjectName(QStringLiteral("verdicts"));
  table_->setHorizontalHeaderLabels({QStringLiteral("code block"), QStringLiteral("soft bits E"),
                                     QStringLiteral("CRC"), QStringLiteral("LDPC iterations")});
  table_->verticalHeader()->hide();
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);

  QSplitter* right = new QSplitter(Qt::Vertical, this);
  right->addWidget(histView_);
  right->addWidget(table_);
  right->setSizes({420, 200});
  QSplitter* split = new QSplitter(Qt::Horizontal, this);
  split->addWidget(constView_);
  split->addWidget(right);
  split->setSizes({560, 590});

  QVBoxLayout* all = new QVBoxLayout(this);
  all->addWidget(summary_);
  all->addWidget(split, 1);
  resize(1150, 680);
  refresh();
}

void CUeRxViewDlg::refresh() {
  model_ = nrRxSlotModel();
  summary_->setText(model_.summary);

  double reach = 1.2;
  for (int l = 0; l < layers_.size(); l++) {
    const QVector<QPointF> pts = l < model_.points.size() ? model_.points[l] : QVector<QPointF>();
    layers_[l]->replace(pts);
    layers_[l]->setVisible(l < model_.layerN);
    for (const QPointF& p : pts) reach = std::max({reach, std::abs(p.x()), std::abs(p.y())});
  }
  ideal_->replace(model_.ideal);
  reach = std::min(std::ceil(reach * 5.0) / 5.0, 4.0);  // a few wild points do not shrink it all
  constX_->setRange(-reach, reach);
  constY_->setRange(-reach, reach);

  QVector<QPointF> steps;
  uint32_t top = 0;
  for (int b = 0; b < kSoftBitBins; b++) {
    const double x = kSoftBitMin + b;
    const uint32_t c = model_.softBitHist[b];
    steps << QPointF(x - 0.5, c) << QPointF(x + 0.5, c);
    top = std::max(top, c);
  }
  histUpper_->replace(steps);
  histY_->setRange(0, std::max<uint32_t>(top, 1) * 1.1);
  histY_->applyNiceNumbers();

  const NrDlschDecReport& rep = model_.decode;
  const int rows = model_.dataValid ? rep.cbN : 0;
  table_->setRowCount(rows);
  for (int r = 0; r < rows; r++) {
    const NrDlschCbVerdict& v = rep.cb[r];
    const QString cells[4] = {QString::number(r), QString::number(v.E),
                              v.crcOk ? QStringLiteral("OK") : QStringLiteral("failed"),
                              QString::number(v.iterUsed)};
    const QColor bg = v.crcOk ? QColor(0xd9, 0xf2, 0xd9) : QColor(0xf8, 0xd0, 0xd0);
    for (int c = 0; c < 4; c++) {
      QTableWidgetItem* it = new QTableWidgetItem(cells[c]);
      it->setTextAlignment(Qt::AlignCenter);
      it->setBackground(bg);
      table_->setItem(r, c, it);
    }
  }
}
