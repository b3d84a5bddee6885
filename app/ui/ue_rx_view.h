// "UeRxView": what the last nrUeRx produced, the equalised constellation per layer (the soft
// demapper's input), the histogram of the soft bits handed to the decoder and each code block's
// CRC verdict with the LDPC iterations it took.
#pragma once

#include <QDialog>
#include <QPointF>
#include <QString>
#include <QVector>
#include <array>
#include <cstdint>

#include "phy/coding/dlsch_decode.h"

class QAreaSeries;
class QChartView;
class QLabel;
class QLineSeries;
class QScatterSeries;
class QTableWidget;
class QValueAxis;

// Soft bits of the demapper are clipped to -32 ... 31.
constexpr int kSoftBitMin = -32;
constexpr int kSoftBitBins = 64;

// A copy of the last receive, taken while no action runs.
struct NrRxSlotModel {
  bool received = false;   // a receive ran in this process
  bool dataValid = false;  // the front end found valid data, so the decoder ran
  int layerN = 0;
  uint32_t Qm = 0;
  QVector<QVector<QPointF>> points;                  // equalised data REs per layer, 1.0 = Q10 1
  QVector<QPointF> ideal;                            // the modulation's constellation points
  std::array<uint32_t, kSoftBitBins> softBitHist{};  // bin b counts the value kSoftBitMin + b
  uint32_t softBitN = 0;
  NrDlschDecReport decode{};  // valid when dataValid
  QString summary;
};

// Reads gnrDchMwItf, gnrUeDchDemapIn, ueLlrBuf and the decoding report; call only while no action
// runs.
NrRxSlotModel nrRxSlotModel();

class CUeRxViewDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CUeRxViewDlg(QWidget* parent = nullptr);
  // Takes a new copy of the last receive; call only while no action runs.
  void refresh();
  const NrRxSlotModel& model() const { return model_; }
  // The constellation's series: one per layer (the ideal points are not among them).
  const QVector<QScatterSeries*>& layerSeries() const { return layers_; }
  QTableWidget* verdictTable() const { return table_; }

 private:
  NrRxSlotModel model_;
  QLabel* summary_;
  QChartView* constView_;
  QVector<QScatterSeries*> layers_;
  QScatterSeries* ideal_;
  QValueAxis* constX_;
  QValueAxis* constY_;
  QChartView* histView_;
  QLineSeries* histUpper_;
  QAreaSeries* hist_;
  QValueAxis* histY_;
  QTableWidget* table_;
};
