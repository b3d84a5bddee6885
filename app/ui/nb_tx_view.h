// "NbTxView": the transmitted slot as the last gNbTx left it in gnrNbTxBuf, the resource grid
// (magnitude per OFDM symbol and subcarrier, PDSCH data, DMRS and the configured CORESET) and the
// spectrum of the waveform.
#pragma once

#include <QDialog>
#include <QImage>
#include <QPointF>
#include <QString>
#include <QVector>
#include <cstdint>
#include <vector>

class QChartView;
class QComboBox;
class QLabel;
class QLineSeries;
class QValueAxis;

// What a resource element of the transmit grid carries.
enum class NrGridRe : uint8_t { kEmpty = 0, kData = 1, kDmrs = 2 };

// A copy of one antenna port of the transmitted slot, taken while no action runs.
struct NrTxSlotModel {
  bool valid = false;  // a slot has been transmitted in this process
  int port = 0;        // the antenna port shown (layer `port` under identity precoding)
  int portN = 0;       // antenna ports of the slot, 1 or 2
  int scN = 0;         // carrier subcarriers, 12 per RB
  int symN = 0;        // OFDM symbols per slot
  std::vector<float>
      magnitude;               // |grid value| per (symbol, subcarrier) at l * scN + k, 1.0 = Q10 1
  std::vector<NrGridRe> kind;  // what each element carries, same indexing
  struct Region {
    int firstSym, symN, firstSc, scN;
  };
  std::vector<Region> coresets;  // configured CORESET regions (no PDCCH is sent)
  int pdschFirstSc = 0;          // subcarrier range of the PDSCH entries, for the zoomed view
  int pdschScN = 0;
  QVector<QPointF> spectrum;  // (offset from the carrier centre in MHz, power in dB re the peak)
  QString summary;
};

// Reads gnrNbConfig and the grid and waveform of antenna port `port` (gnrNbTxBuf, gnrNbTxBuf1);
// call only while no action runs.
NrTxSlotModel nrTxSlotModel(int port = 0);

// The resource grid drawn one pixel per resource element: x = OFDM symbol, y = subcarrier (0 at
// the top); empty elements are kGridEmptyColour.
QImage nrTxGridImage(const NrTxSlotModel& m);
extern const QRgb kGridEmptyColour;

class CNbTxViewDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CNbTxViewDlg(QWidget* parent = nullptr);
  // Takes a new copy of the transmitted slot; call only while no action runs.
  void refresh();
  const NrTxSlotModel& model() const { return model_; }
  QLineSeries* spectrumSeries() const { return spectrum_; }
  // Shows antenna port `port` (0 or 1) of a two-port slot.
  void showPort(int port);

 private:
  class GridWidget;
  void applyRange();
  NrTxSlotModel model_;
  QLabel* summary_;
  GridWidget* grid_;
  QComboBox* range_;
  QComboBox* port_;
  QChartView* chartView_;
  QLineSeries* spectrum_;
  QValueAxis* freqAxis_;
  QValueAxis* powAxis_;
};
