// DCI decoding for PDCCH blind detection: descrambling (TS 38.211 7.3.2.3), rate recovery and
// successive-cancellation polar decoding, de-interleaving and the RNTI-masked CRC check (TS 38.212
// 7.3.2 - 7.3.4).
#pragma once

#include <cstdint>

#include "phy/coding/dci_encode.h"

// Room for the bits of the last decoded candidate (c_0 .. c_{K-1}, K <= 124) and for the payloads
// blind detection hands over (up to 10 of at most 60 bits).
constexpr int kDciBitsCap = 1024;

// gnrDciBits: c_0 .. c_{K-1} (payload, then the masked CRC) of the last decoded candidate, one bit
// per byte; written by nrDciDecode and nrDciDecodeCheck, then overwritten by blind detection with
// the detected payloads one after another; read by the callers of blind detection.
extern uint8_t gnrDciBits[kDciBitsCap];

// Decodes the E soft values (positive for bit 0) of one PDCCH candidate: descrambling with the
// Gold sequence of nrPdcchScrCinit(rnti, nId, scrFlag != 0), hard decisions (a value that is not
// positive after descrambling decides 1), rate recovery for K = A + 24, SC decoding and
// de-interleaving into gnrDciBits. Returns true when the CRC masked with rnti checks; the payload
// is then gnrDciBits[0 .. A-1]. A of 0 or above 100, or an E the code cannot be recovered from
// (K > E, E above 8192), is refused with a diagnostic and gives false.
bool nrDciDecode(const int16_t* soft, uint16_t E, uint32_t rnti, uint16_t nId, int16_t A,
                 uint16_t scrFlag);

// Decodes E hard bits (lowest bit of each value) of an unscrambled candidate with A payload bits
// for n_max = 9 + m and compares the received CRC, unmasked with the recomputed parity, with rnti.
// On a match prints "decode suc!\n Payload:", the payload bits and "\n" and returns 1; otherwise
// returns 0. Only m = 0 (n_max 9, the downlink) is decoded: another m, A of 0 or above 100, K > E
// or E above 8192 is refused with a diagnostic and gives 0.
uint8_t nrDciDecodeCheck(const int16_t* hard, uint16_t A, uint16_t E, uint8_t m, uint32_t rnti);
