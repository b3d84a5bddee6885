// Per-stage time of the transmit and receive chains, for `veltra --profile` and the benchmarks.
// Off by default: a timed scope then costs one test of a flag. On, every scope reads the
// monotonic clock when it is entered and left; time spent in a nested scope is charged to the
// nested stage only, so the stages add up to the time inside scopes.
#pragma once

#include <cstdint>

enum class NrStage : uint8_t {
  kGeneration,      // slot configuration, transport block payload and its CRC
  kEncoding,        // code-block segmentation and CRC, LDPC encoding, rate matching
  kMapping,         // scrambling, modulation, layer and resource-element mapping, DMRS
  kOfdm,            // OFDM modulation
  kFileIo,          // waveform files, diagnostic files, slot description
  kUeSetUp,         // UE records from the gNB configuration, samples into ueRxSample
  kFft,             // OFDM demodulation: cyclic prefix, DFT, half swap
  kExtraction,      // RE extraction, layer demapping, rate-matching masks, verdict
  kEstimation,      // DMRS sequence, least squares, interpolation, equaliser weights
  kEqualisation,    // weights interpolated in time and applied to the data REs
  kDemapping,       // soft demapping
  kDeRateMatching,  // descrambling, bit de-interleaving, de-rate-matching
  kDecoding,        // LDPC decoding and the code-block CRC, one call per code block
  kStageCount
};

struct NrStageTime {
  uint64_t ns;     // time inside the stage's own scopes (nested scopes excluded)
  uint32_t calls;  // scopes entered
};

// Whether stages are timed; written by nrProfileEnable, read by every timed scope.
extern bool gnrProfileOn;

// Starts (on) or stops timing; starting clears the figures and notes the start of the span the
// table covers.
void nrProfileEnable(bool on);

// The figures of every stage, kStageCount entries, indexed by NrStage.
const NrStageTime* nrProfileStages();

// Short name of a stage as the table prints it ("FFT", "de-rate-matching", ...).
const char* nrStageName(NrStage s);

// Prints the table on the diagnostic stream: per stage the time, its share of the span since
// nrProfileEnable(true), the calls and the time per call (per code block for decoding); then the
// time outside every scope, the span and the CPU time of the span.
void nrProfilePrint();

namespace profile_detail {
void enter(NrStage s);
void leave();
}  // namespace profile_detail

// Times its own lifetime as stage s while profiling is on.
struct NrStageScope {
  explicit NrStageScope(NrStage s) : on(gnrProfileOn) {
    if (on) profile_detail::enter(s);
  }
  ~NrStageScope() {
    if (on) profile_detail::leave();
  }
  NrStageScope(const NrStageScope&) = delete;
  NrStageScope& operator=(const NrStageScope&) = delete;
  bool on;
};
