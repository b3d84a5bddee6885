#include "config/tv_sample.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "config/nr_config.h"
#include "tests/config/file_fixture.h"
#include "tests/test_util.h"

namespace {

// Sample i of file f: distinct per file and position, negative values included.
int16_t sampleAt(int f, uint32_t i) { return static_cast<int16_t>(i * 7 + f * 1000 - 20000); }

std::vector<int16_t> samples(int f, uint32_t n) {
  std::vector<int16_t> v(n);
  for (uint32_t i = 0; i < n; i++) v[i] = sampleAt(f, i);
  return v;
}

void writeTv(const std::string& dir, uint32_t n) {
  for (int f = 0; f < 4; f++)
    writeWholeFile(dir + "/" + kTvFileNames[f], int16Bytes(samples(f, n)));
}

int16_t* tvPart(int f) { return tvSample[f / 2][f % 2]; }

}  // namespace

TEST(TvSample, ReadsTheFourFilesOfOneSlotWithTheirConsoleLines) {
  ScopedTempDir dir;
  writeTv(dir.path(), 30720);  // 61440 bytes: one slot at N = 2048
  std::memset(tvSample, 0x5A, sizeof(tvSample));
  bool ok = false;
  const ConsoleText out = captureConsole([&] { ok = nrUeGetFileData(dir.path().c_str()); });
  EXPECT_TRUE(ok);
  EXPECT_EQ(out.out, "=== nrUeGetFileData() started ===\n=== nrUeGetFileData() exited ===\n");
  EXPECT_EQ(out.err, "");
  for (int f = 0; f < 4; f++) {
    for (uint32_t i = 0; i < 30720; i += 97)
      ASSERT_EQ(tvPart(f)[i], sampleAt(f, i)) << f << " " << i;
    EXPECT_EQ(tvPart(f)[30719], sampleAt(f, 30719));
    // Beyond the file the store holds no samples of an earlier read.
    EXPECT_EQ(tvPart(f)[30720], 0);
    EXPECT_EQ(tvPart(f)[kTvSampleCap - 1], 0);
  }
  for (int k = 0; k < 14; k++) EXPECT_EQ(cpPatternTbl[k], kCpPattern[k]);
  EXPECT_EQ(cpPatternTbl[14], 128);

  const ConsoleText load = captureConsole([&] { ok = nrPhylibLoadDataFile(dir.path().c_str()); });
  EXPECT_TRUE(ok);
  EXPECT_EQ(load.out,
            "===>>>>  nrPhylibLoadDataFile() started ===\n"
            "=== nrPhylibLoadDataFile() exited ===>>>>\n");
  EXPECT_EQ(tvPart(3)[100], sampleAt(3, 100));
}

TEST(TvSample, OddSizeDropsTheLastByteAndOversizeFilesAreCut) {
  ScopedTempDir dir;
  writeTv(".", 10);
  // 21 bytes: ten samples and a stray byte.
  writeWholeFile(kTvFileNames[0], int16Bytes(samples(0, 10)) + "\x7F");
  // One sample more than the store holds.
  writeWholeFile(kTvFileNames[3], int16Bytes(samples(3, kTvSampleCap + 1)));
  std::memset(tvSample, 0x5A, sizeof(tvSample));
  bool ok = false;
  const ConsoleText out = captureConsole([&] { ok = nrUeGetFileData("."); });
  EXPECT_TRUE(ok);
  EXPECT_EQ(tvPart(0)[9], sampleAt(0, 9));
  EXPECT_EQ(tvPart(0)[10], 0);
  EXPECT_EQ(tvPart(3)[kTvSampleCap - 1], sampleAt(3, kTvSampleCap - 1));
  EXPECT_NE(out.err.find("./vuetxWavePort1Real.dat: odd size of 21 bytes"), std::string::npos)
      << out.err;
  EXPECT_NE(out.err.find("./vuetxWavePort2Imag.dat: 307201 samples, more than the 307200"),
            std::string::npos)
      << out.err;
}

// The file names bring their own separator: a directory with a trailing one gives a doubled
// separator, which still names the same files.
TEST(TvSample, DirectoryWithATrailingSeparatorStillFindsTheFiles) {
  ScopedTempDir dir;
  mkdir("tv", 0755);
  writeTv("tv", 64);
  bool ok = false;
  captureConsole([&] { ok = nrUeGetFileData("tv/"); });
  EXPECT_TRUE(ok);
  EXPECT_EQ(tvPart(2)[63], sampleAt(2, 63));

  const ConsoleText out = captureConsole([&] { ok = nrUeGetFileData("none/"); });
  EXPECT_FALSE(ok);
  EXPECT_NE(out.out.find("Fail to open file: none//vuetxWavePort1Real.dat!\n"), std::string::npos)
      << out.out;
}

// A file that cannot be read is reported, the others are still read, and its part of the store
// holds no samples of an earlier directory.
TEST(TvSample, UnreadableFilesAreReportedAndReadAsZero) {
  ScopedTempDir dir;
  writeTv(".", 100);
  captureConsole([] { nrUeGetFileData("."); });
  std::remove(kTvFileNames[3]);
  std::remove(kTvFileNames[1]);
  ASSERT_EQ(mkfifo(kTvFileNames[1], 0644), 0);
  bool ok = true;
  const ConsoleText out = captureConsole([&] { ok = nrUeGetFileData("."); });
  EXPECT_FALSE(ok);
  EXPECT_EQ(out.out,
            "=== nrUeGetFileData() started ===\n"
            "Fail to open file: ./vuetxWavePort1Imag.dat!\n"
            "Fail to open file: ./vuetxWavePort2Imag.dat!\n"
            "=== nrUeGetFileData() exited ===\n");
  EXPECT_NE(out.err.find("./vuetxWavePort1Imag.dat: a FIFO"), std::string::npos) << out.err;
  EXPECT_EQ(tvPart(1)[5], 0);
  EXPECT_EQ(tvPart(3)[5], 0);
  EXPECT_EQ(tvPart(2)[5], sampleAt(2, 5));
}

TEST(TvSample, OverLongDirectoryIsRefused) {
  ScopedTempDir dir;
  const std::string longDir(250, 'd');
  bool ok = true;
  const ConsoleText out = captureConsole([&] { ok = nrPhylibLoadDataFile(longDir.c_str()); });
  EXPECT_FALSE(ok);
  EXPECT_NE(out.err.find("nrPhylibLoadDataFile: path \"dddd"), std::string::npos) << out.err;
  EXPECT_NE(out.err.find("of 273 characters exceeds the 255-character limit"), std::string::npos)
      << out.err;
}

TEST(TvSample, SlotCuttingCopiesFifteenSymbolsWorthPerAntenna) {
  ScopedTempDir dir;
  writeTv(".", kTvSampleCap);
  captureConsole([] { nrUeGetFileData("."); });
  NrCellCfg cell{};
  cell.fftSize = 2048;
  cell.antPortN = 2;
  for (uint16_t slot : {0, 3, 9}) {
    std::memset(ueRxSample, 0, sizeof(ueRxSample));
    ASSERT_TRUE(nrCutTvSlot(slot, &cell));
    const uint32_t first = 30720u * slot;
    for (int f = 0; f < 4; f++) {
      EXPECT_EQ(ueRxSample[f / 2][f % 2][0], sampleAt(f, first)) << slot;
      EXPECT_EQ(ueRxSample[f / 2][f % 2][30719], sampleAt(f, first + 30719)) << slot;
    }
  }
  // A smaller FFT cuts shorter slots: slot 5 of N = 1024 starts at sample 76800.
  cell.fftSize = 1024;
  cell.antPortN = 1;
  std::memset(ueRxSample, 0, sizeof(ueRxSample));
  ASSERT_TRUE(nrCutTvSlot(5, &cell));
  EXPECT_EQ(ueRxSample[0][1][0], sampleAt(1, 76800));
  EXPECT_EQ(ueRxSample[0][0][15359], sampleAt(0, 76800 + 15359));
  EXPECT_EQ(ueRxSample[0][0][15360], 0);
  EXPECT_EQ(ueRxSample[1][0][0], 0) << "one antenna: the second port is not written";

  const struct {
    uint16_t slot, fft;
    uint8_t ant;
    const char* diag;
  } bad[] = {{10, 2048, 2, "slot 10 of 30720 samples ends at sample 337920"},
             {0, 0, 2, "FFT size 0"},
             {0, 4096, 2, "FFT size 4096"},
             {0, 2048, 3, "3 receive antennas"}};
  for (const auto& b : bad) {
    cell.fftSize = b.fft;
    cell.antPortN = b.ant;
    bool ok = true;
    const std::string err = captureDiag([&] { ok = nrCutTvSlot(b.slot, &cell); });
    EXPECT_FALSE(ok) << b.diag;
    EXPECT_NE(err.find(b.diag), std::string::npos) << err;
  }
}

// A slot counts as held only when every file of the antennas in use reaches its end; a missing
// file holds nothing, and a later read forgets an earlier directory's lengths.
TEST(TvSample, SlotIsHeldOnlyWhenEveryFileReachesItsEnd) {
  ScopedTempDir dir;
  writeTv(".", 30720 * 5 / 2);  // two and a half slots at N = 2048
  // Antenna 2's imaginary part stops after one slot.
  writeWholeFile(std::string("./") + kTvFileNames[3], int16Bytes(samples(3, 30720)));
  captureConsole([] { nrPhylibLoadDataFile("."); });
  EXPECT_EQ(tvSampleN[0][0], 76800u);
  EXPECT_EQ(tvSampleN[1][1], 30720u);
  NrCellCfg cell{};
  cell.fftSize = 2048;
  cell.antPortN = 1;
  const struct {
    uint16_t slot;
    uint8_t ant;
    uint16_t fft;
    bool held;
    const char* diag;
  } cases[] = {
      {1, 1, 2048, true, ""},
      {2, 1, 2048, false, "who: slot 2 ends at sample 92160, vuetxWavePort1Real.dat holds 76800"},
      {0, 2, 2048, true, ""},
      {1, 2, 2048, false, "vuetxWavePort2Imag.dat holds 30720 samples: slot not received"},
      {4, 1, 1024, true, ""},  // slots of 15360 samples: slot 4 ends at 76800
  };
  for (const auto& c : cases) {
    cell.antPortN = c.ant;
    cell.fftSize = c.fft;
    bool held = !c.held;
    const std::string err = captureDiag([&] { held = nrTvSlotHeld("who", c.slot, &cell); });
    EXPECT_EQ(held, c.held) << c.slot << " " << int{c.ant};
    EXPECT_NE(err.find(c.diag), std::string::npos) << err;
    if (c.held) {
      EXPECT_EQ(err, "");
    }
  }
  mkdir("empty", 0755);
  captureConsole([] { nrUeGetFileData("empty"); });
  cell.antPortN = 1;
  cell.fftSize = 2048;
  EXPECT_FALSE(captureConsole([&] { EXPECT_FALSE(nrTvSlotHeld("who", 0, &cell)); }).err.empty());
  EXPECT_EQ(tvSampleN[0][0], 0u);
}
