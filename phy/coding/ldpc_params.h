// Transport block segmentation, base graph and lifting size (TS 38.212 7.2.2, 5.2.2, 5.3.2,
// 5.4.2.1): the LDPC coding parameters of one transport block.
#pragma once

#include <cstdint>

#include "phy/coding/crc.h"

constexpr int kMaxCodeBlocks = 100;

struct NrLdpcParams {
  int32_t bg;                 // base graph, 1 or 2
  int32_t Kcb;                // maximum code block size: 8448 (BG1) or 3840 (BG2)
  int32_t B;                  // transport block size plus transport-block CRC
  int32_t L;                  // code-block CRC length, 0 or 24
  int32_t C;                  // number of code blocks
  int32_t Bp;                 // B' = B + C*L
  int32_t Kp;                 // K' = B'/C, information plus CRC bits per code block
  int32_t Kb;                 // systematic base-graph columns used for the lifting-size choice
  nrCrcType crcType;          // CRC ending each code block: 0 CRC24A, 1 CRC24B, 2 CRC16
  int32_t Qm;                 // modulation order, stored by nrDlschEncode
  int32_t ZcIdx;              // position of Zc in gnrLdpcLiftSizes
  int32_t Zc;                 // lifting size
  int32_t iLS;                // lifting-size set index 0..7
  int32_t K;                  // code block length with fillers: 22*Zc (BG1) or 10*Zc (BG2)
  int32_t F;                  // filler bits, K - K'
  int32_t N;                  // encoded length: 66*Zc (BG1) or 50*Zc (BG2)
  int32_t Ncb;                // circular buffer length (= N, no limited-buffer rate matching)
  int32_t k0;                 // circular buffer start of the redundancy version
  int32_t A;                  // transport block size, stored by nrDlschEncode
  int32_t E[kMaxCodeBlocks];  // rate-matched length E_r per code block
  int64_t sumE;               // sum of E_r over all code blocks
};

// Coding parameters of the current transport block. Written by nrLdpcParamCalc (Qm and A by
// nrDlschEncode); read by nrLdpcEncode, nrLdpcRateMatch and nrDlschEncode.
extern NrLdpcParams nrLdpcParams;

// Fills *params (all fields but Qm and A) for a transport block of A bits sent in G coded bits at
// the target rate rateX1024/1024 with Qm bits per symbol on numLayers layers. A request that the
// record cannot describe (more than kMaxCodeBlocks code blocks, an E_r beyond 32 bits, no coded
// bits per symbol, no lifting size) is reported, leaves C = 0, sumE = 0 and every E_r = 0 (no code
// block is to be sent) and gives false.
bool nrLdpcParamCalc(int64_t A, int64_t G, float rateX1024, int32_t Qm, uint8_t rv,
                     int32_t numLayers, NrLdpcParams* params);
