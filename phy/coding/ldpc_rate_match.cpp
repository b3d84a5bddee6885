#include "phy/coding/ldpc_rate_match.h"

#include <cstdio>

void nrLdpcRateMatch(const int32_t* d, int32_t* out, int32_t r, const NrLdpcParams* params) {
  const int32_t ncb = params->Ncb;
  const int32_t qm = params->Qm;
  if (r < 0 || r >= kMaxCodeBlocks || qm < 1 || ncb < 1 || params->E[r] < 0) {
    printf("nrLdpcRateMatch(): code block %d (Qm %d, Ncb %d) not supported!\n", r, qm, ncb);
    return;
  }
  // TS 38.212 5.4.2.2: the E/Qm columns of a Qm-row matrix filled row by row are read column by
  // column, so selected bit j = l*n + k lands at output k*Qm + l. Only n*Qm bits are placed.
  const int32_t n = params->E[r] / qm;
  const int64_t total = static_cast<int64_t>(n) * qm;
  if (total == 0) return;

  int32_t i = params->k0 % ncb;
  if (i < 0) i += ncb;
  int32_t k = 0;
  int32_t l = 0;
  int64_t j = 0;
  int32_t sinceSelected = 0;
  // TS 38.212 5.4.2.1: walk the circular buffer from k0, skipping filler bits; repeat it when E
  // exceeds its non-filler bits.
  while (j < total) {
    if (d[i] != -1) {
      out[static_cast<int64_t>(k) * qm + l] = d[i];
      j++;
      sinceSelected = 0;
      if (++k == n) {
        k = 0;
        l++;
      }
    } else if (++sinceSelected == ncb) {
      break;
    }
    if (++i == ncb) i = 0;
  }
  if (j == 0) printf("nrLdpcRateMatch(): code block %d holds filler bits only!\n", r);
}
