#include "phy/ofdm/ofdm_demod.h"

#include <cmath>

#include "config/console.h"
#include "phy/common/cpx_float.h"
#include "phy/ofdm/fft.h"

int32_t gnrUeRxGrid[kSymbolsPerSlot][2][kMaxFftSize];

uint32_t nrOfdmSymbolStart(const NrCellCfg* cell, int l) {
  uint32_t pos = 0;
  for (int k = 0; k < l; k++) pos += cell->cpLen[k] + cell->fftSize;
  return pos + cell->cpLen[l];
}

bool nrOfdmDemod(const int16_t (*rxSample)[2][kSlotSampleCap], const NrCellCfg* cell, int firstSym,
                 int lastSym, int ant, int32_t (*grid)[2][kMaxFftSize]) {
  const uint32_t n = cell->fftSize;
  NrFftPlan* fft = nrFftForward(n);
  if (!fft) {
    nrDiag("nrOfdmDemod: FFT size %u not supported (power of two up to %d)\n", n, kMaxFftSize);
    return false;
  }
  uint32_t slotLen = 0;
  for (int l = 0; l < kSymbolsPerSlot; l++) slotLen += cell->cpLen[l] + n;
  if (slotLen > static_cast<uint32_t>(kSlotSampleCap)) {
    nrDiag("nrOfdmDemod: slot of %u samples exceeds the %d-sample buffer\n", slotLen,
           kSlotSampleCap);
    return false;
  }
  if (firstSym < 0 || lastSym >= kSymbolsPerSlot || ant < 0 || ant > 1) {
    nrDiag("nrOfdmDemod: symbols %d..%d of antenna %d outside the slot\n", firstSym, lastSym, ant);
    return false;
  }

  const double sqrtN = std::sqrt(static_cast<double>(n));
  for (int l = firstSym; l <= lastSym; l++) {
    const uint32_t offset = nrOfdmSymbolStart(cell, l);
    const int16_t* re = &rxSample[ant][0][offset];
    const int16_t* im = &rxSample[ant][1][offset];
    for (uint32_t i = 0; i < n; i++) {
      fft->in[i][0] = re[i];
      fft->in[i][1] = im[i];
    }
    fftw_execute(fft->plan);
    int32_t* out = grid[l][ant];
    for (uint32_t i = 0; i < n; i++)
      out[i] =
          nrCpxPack(nrFloatToInt16(fft->out[i][0] / sqrtN), nrFloatToInt16(fft->out[i][1] / sqrtN));
    nrFftShift(out, out, n);
  }
  return true;
}
