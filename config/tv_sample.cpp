#include "config/tv_sample.h"

#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstring>

#include "config/console.h"
#include "config/input_file.h"

namespace {

struct TvFile {
  int port;
  int part;  // 0 real, 1 imaginary
};
// The order the files are read in.
constexpr TvFile kTvFiles[4] = {{0, 0}, {0, 1}, {1, 0}, {1, 1}};

// Reads one raw int16 file into dst (kTvSampleCap samples), zeroes what it does not fill and
// records in *held how many samples it provided.
bool readSampleFile(const char* who, const char* dir, const TvFile& tv, int16_t* dst,
                    uint32_t* held) {
  *held = 0;
  NrPath path;
  if (!nrBuildPath(path, who, "%s%s", dir, kTvSampleFileName[tv.port][tv.part])) {
    std::memset(dst, 0, sizeof(int16_t) * kTvSampleCap);
    return false;
  }
  NrInputFile f;
  if (!nrOpenInputFile(path, &f)) {
    nrPrintf("Fail to open file: %s!\n", path);
    nrDiag("%s: %s: not read, its samples read as zero\n", path, nrInputFileReason(&f));
    std::memset(dst, 0, sizeof(int16_t) * kTvSampleCap);
    return false;
  }
  uint64_t want = f.size / 2;
  if (f.size % 2 != 0)
    nrDiag("%s: odd size of %llu bytes: the last byte is ignored\n", path,
           static_cast<unsigned long long>(f.size));
  if (want > static_cast<uint64_t>(kTvSampleCap)) {
    nrDiag("%s: %llu samples, more than the %d of the test-vector store: the rest is dropped\n",
           path, static_cast<unsigned long long>(want), kTvSampleCap);
    want = kTvSampleCap;
  }

  // Raw little-endian int16, read straight into the store.
  char* bytes = reinterpret_cast<char*>(dst);
  const std::size_t wantBytes = static_cast<std::size_t>(want) * 2;
  std::size_t got = 0;
  bool ok = true;
  while (got < wantBytes) {
    const ssize_t n = read(f.fd, bytes + got, wantBytes - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      nrDiag("%s: read failed after %zu bytes: %s\n", path, got, std::strerror(errno));
      ok = false;
      break;
    }
    if (n == 0) {
      nrDiag("%s: ended after %zu of its %zu bytes (changed while read)\n", path, got, wantBytes);
      ok = false;
      break;
    }
    got += static_cast<std::size_t>(n);
  }
  nrCloseInputFile(&f);
  const std::size_t samples = got / 2;
  if constexpr (std::endian::native == std::endian::big)
    for (std::size_t i = 0; i < samples; i++)
      dst[i] = static_cast<int16_t>(static_cast<uint16_t>(dst[i]) << 8 |
                                    static_cast<uint16_t>(dst[i]) >> 8);
  std::memset(dst + samples, 0, sizeof(int16_t) * (kTvSampleCap - samples));
  *held = static_cast<uint32_t>(samples);
  return ok;
}

bool readTvFiles(const char* who, const char* dir) {
  if (dir == nullptr) {
    nrDiag("%s: no directory given\n", who);
    std::memset(tvSampleN, 0, sizeof(tvSampleN));
    return false;
  }
  bool all = true;
  for (const TvFile& tv : kTvFiles)
    all = readSampleFile(who, dir, tv, tvSample[tv.port][tv.part], &tvSampleN[tv.port][tv.part]) &&
          all;
  return all;
}

}  // namespace

const char* const kTvSampleFileName[2][2] = {
    {"/vuetxWavePort1Real.dat", "/vuetxWavePort1Imag.dat"},
    {"/vuetxWavePort2Real.dat", "/vuetxWavePort2Imag.dat"}};

bool nrUeGetFileData(const char* dir) {
  nrPrintf("=== nrUeGetFileData() started ===\n");
  nrLoadCpPatternTbl();
  const bool ok = readTvFiles("nrUeGetFileData", dir);
  nrPrintf("=== nrUeGetFileData() exited ===\n");
  return ok;
}

bool nrPhylibLoadDataFile(const char* dir) {
  nrPrintf("===>>>>  nrPhylibLoadDataFile() started ===\n");
  const bool ok = readTvFiles("nrPhylibLoadDataFile", dir);
  nrPrintf("=== nrPhylibLoadDataFile() exited ===>>>>\n");
  return ok;
}

bool nrCutTvSlot(uint16_t slot, const NrCellCfg* cell) {
  const uint32_t n = cell->fftSize;
  if (n == 0 || n > static_cast<uint32_t>(kMaxFftSize)) {
    nrDiag("nrCutTvSlot: FFT size %u not supported (1..%d)\n", n, kMaxFftSize);
    return false;
  }
  if (cell->antPortN > 2) {
    nrDiag("nrCutTvSlot: %u receive antennas, the test vectors hold 2\n", cell->antPortN);
    return false;
  }
  // A slot is 14 symbols plus prefixes that sum to one symbol: 15 N samples.
  const uint32_t slotLen = 15u * n;
  const uint64_t end = static_cast<uint64_t>(slotLen) * (slot + 1u);
  if (end > static_cast<uint64_t>(kTvSampleCap)) {
    nrDiag(
        "nrCutTvSlot: slot %u of %u samples ends at sample %llu, beyond the %d of the "
        "test-vector store\n",
        slot, slotLen, static_cast<unsigned long long>(end), kTvSampleCap);
    return false;
  }
  const uint32_t first = slotLen * slot;
  for (int a = 0; a < cell->antPortN; a++)
    for (int part = 0; part < 2; part++)
      std::memcpy(ueRxSample[a][part], &tvSample[a][part][first], sizeof(int16_t) * slotLen);
  return true;
}

bool nrTvSlotHeld(const char* who, uint16_t slot, const NrCellCfg* cell) {
  const uint64_t end = 15ull * cell->fftSize * (slot + 1u);
  const int antennas = cell->antPortN < 2 ? cell->antPortN : 2;
  for (int a = 0; a < antennas; a++)
    for (int part = 0; part < 2; part++)
      if (tvSampleN[a][part] < end) {
        nrDiag("%s: slot %u ends at sample %llu, %s holds %u samples: slot not received\n", who,
               slot, static_cast<unsigned long long>(end), kTvSampleFileName[a][part] + 1,
               tvSampleN[a][part]);
        return false;
      }
  return true;
}
