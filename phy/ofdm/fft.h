// The DFTs of the OFDM modulator and demodulators: one FFTW plan per size, made once.
#pragma once

#include <fftw3.h>

#include <cstdint>

// A forward DFT of size n (FFTW_FORWARD, FFTW_ESTIMATE) planned on two fixed aligned buffers of
// kMaxFftSize values: fill in[0 .. n-1], execute, read out[0 .. n-1]. The buffers are shared by
// every size; planning once per size gives the algorithm a fresh FFTW_ESTIMATE plan on aligned
// buffers would pick, hence the same results, without planning 14 times per slot.
struct NrFftPlan {
  uint32_t n;
  fftw_complex* in;
  fftw_complex* out;
  fftw_plan plan;
};

// The plan of size n, a power of two from 1 to kMaxFftSize; nullptr for any other size.
NrFftPlan* nrFftForward(uint32_t n);

// Exchanges element i and element n/2 + i for i < n/2 (n taken as 16 bits). dst may equal src.
void nrFftShift(int32_t* dst, const int32_t* src, uint32_t n);
