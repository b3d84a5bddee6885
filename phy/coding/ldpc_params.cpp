#include "phy/coding/ldpc_params.h"

#include <cstdint>
#include <cstdio>

#include "config/console.h"
#include "phy/coding/ldpc_tables.h"

NrLdpcParams nrLdpcParams;

namespace {

// Clears everything but the fields the caller owns, so that no code block is described.
void rejectRequest(NrLdpcParams* params) {
  const int32_t qm = params->Qm;
  const int32_t a = params->A;
  *params = NrLdpcParams{};
  params->Qm = qm;
  params->A = a;
}

}  // namespace

bool nrLdpcParamCalc(int64_t A, int64_t G, float rateX1024, int32_t Qm, uint8_t rv,
                     int32_t numLayers, NrLdpcParams* params) {
  const int64_t w = static_cast<int64_t>(Qm) * numLayers;
  if (A < 0 || A > INT32_MAX || G < 0 || G > INT64_MAX / 2 || w <= 0 || w > INT32_MAX) {
    nrDiag("nrLdpcParamCalc(): A = %lld, G = %lld, Qm x layers = %lld not supported!\n",
           static_cast<long long>(A), static_cast<long long>(G), static_cast<long long>(w));
    rejectRequest(params);
    return false;
  }

  // TS 38.212 7.2.2: base graph selection (both comparisons inclusive).
  const float R = rateX1024 / 1024;
  const bool bg2 = A <= 292 || (A <= 3824 && R <= 0.67) || R <= 0.25;
  const int32_t bg = bg2 ? 2 : 1;
  const int64_t Kcb = bg2 ? 3840 : 8448;

  // TS 38.212 7.2.1 and 5.2.2: transport-block CRC, then code-block segmentation.
  const int64_t B = A <= 3824 ? A + 16 : A + 24;
  int64_t L = 0;
  int64_t C = 1;
  if (B > Kcb) {
    L = 24;
    C = (B + Kcb - 24 - 1) / (Kcb - 24);
  }
  if (C > kMaxCodeBlocks) {
    nrDiag("nrLdpcParamCalc(): %lld code blocks exceed the limit of %d, nothing encoded!\n",
           static_cast<long long>(C), kMaxCodeBlocks);
    rejectRequest(params);
    return false;
  }
  const int64_t Bp = B + C * L;
  const int64_t Kp = Bp / C;

  int32_t Kb = 22;
  if (bg2) Kb = B > 640 ? 10 : B > 560 ? 9 : B > 192 ? 8 : 6;

  // TS 38.212 5.2.2: smallest lifting size with Kb*Zc >= K'.
  const int32_t ZcIdx = nrLdpcLiftCeilIndex((Kp + Kb - 1) / Kb);
  if (ZcIdx < 0) {
    nrDiag("nrLdpcParamCalc(): K' = %lld needs a lifting size above 384, nothing encoded!\n",
           static_cast<long long>(Kp));
    rejectRequest(params);
    return false;
  }
  const int32_t Zc = gnrLdpcLiftSizes[ZcIdx];
  const int32_t iLS = nrLdpcLiftSet(ZcIdx);

  const int32_t K = (bg2 ? 10 : 22) * Zc;
  const int32_t N = (bg2 ? 50 : 66) * Zc;
  const int32_t Ncb = N;

  // TS 38.212 5.4.2.1: rate-matched length of every code block, all of them scheduled.
  const int64_t q = G / w;
  const int64_t eSmall = w * (G / (w * C));
  const int64_t eLarge = w * ((G + w * C - 1) / (w * C));
  if (eLarge > INT32_MAX) {
    nrDiag("nrLdpcParamCalc(): rate-matched length %lld exceeds 32 bits, nothing encoded!\n",
           static_cast<long long>(eLarge));
    rejectRequest(params);
    return false;
  }

  params->bg = bg;
  params->Kcb = static_cast<int32_t>(Kcb);
  params->B = static_cast<int32_t>(B);
  params->L = static_cast<int32_t>(L);
  params->C = static_cast<int32_t>(C);
  params->Bp = static_cast<int32_t>(Bp);
  params->Kp = static_cast<int32_t>(Kp);
  params->Kb = Kb;
  params->ZcIdx = ZcIdx;
  params->Zc = Zc;
  params->iLS = iLS;
  params->K = K;
  params->F = K - params->Kp;
  params->N = N;
  params->Ncb = Ncb;

  // TS 38.212 Table 5.4.2.1-2; an rv outside 0..3 leaves k0 as it was.
  static constexpr int32_t kRvNum[2][4] = {{0, 17, 33, 56}, {0, 13, 25, 43}};
  if (rv <= 3) {
    const int64_t n = (bg2 ? 50 : 66) * static_cast<int64_t>(Zc);
    params->k0 = static_cast<int32_t>(kRvNum[bg - 1][rv] * static_cast<int64_t>(Ncb) / n * Zc);
  }

  params->sumE = 0;
  for (int64_t r = 0; r < kMaxCodeBlocks; r++) {
    const int64_t e = r >= C ? 0 : r <= C - (q % C) - 1 ? eSmall : eLarge;
    params->E[r] = static_cast<int32_t>(e);
    params->sumE += e;
  }

  params->crcType = C > 1 ? kCrc24B : Kp > 3840 ? kCrc24A : kCrc16;
  return true;
}
