// HARQ reception of one downlink transport block (TS 38.321 5.3.2, TS 38.212 5.4.2): the
// de-rate-matched soft bits of every transmission are combined per code block in a soft buffer
// saturated to the LDPC decoder's input range, and only the code blocks that have not yet passed
// their CRC are decoded again. Beside nrDlschDecode, which decodes one transmission on its own.
#pragma once

#include <cstdint>

// What one call did.
struct NrHarqStats {
  int32_t cbN;       // code blocks of the transport block
  int32_t cbPassed;  // code blocks whose CRC has passed, in this or an earlier transmission
  int32_t decodes;   // LDPC decoder runs of this call
  int32_t iterSum;   // iterations of those runs
};

// Empties the soft buffer: the next transmission starts a new transport block.
void nrDlschHarqReset();

// Combines one transmission into the soft buffer and decodes the code blocks still failing.
// The arguments are those of nrDlschDecode (A, G soft bits of the transmission in transmission
// order, cInit, Qm, rv 0..3, numLayers, target rate x 2048 choosing the base graph). A transmission
// whose transport block, code blocks or lifting differ from the buffer's starts a new one. Prints
// nothing and writes no file. Returns 1 when every code block has passed its CRC, else 0 (also,
// reported, for a request that cannot be decoded). st, when given, receives the call's figures.
uint8_t nrDlschHarqDecode(uint32_t A, uint32_t G, int32_t cInit, uint32_t Qm, uint8_t rv,
                          const int16_t* softBits, uint8_t numLayers, uint16_t rateX2048,
                          NrHarqStats* st);

// The decoded transport block followed by its CRC (B bits: the code blocks without their CRC24B),
// after nrDlschHarqDecode returned 1: writes at most cap bits to out and returns the count, or 0
// when no transport block has passed.
int32_t nrDlschHarqTbBits(int32_t* out, int32_t cap);
