#include "phy/common/sample_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/nr_config.h"
#include "tests/test_util.h"

namespace {

std::string lines(int n, const char* eol = "\n") {
  std::string s;
  for (int i = 0; i < n; i++) s += std::to_string(i) + "," + std::to_string(-i) + eol;
  return s;
}

std::vector<int32_t> marked(size_t n) { return std::vector<int32_t>(n, nrCpxPack(7, 7)); }

}  // namespace

TEST(SampleFile, WrittenFileReadsBackExactly) {
  ScopedTempDir dir;
  std::vector<int32_t> out(1000);
  for (int i = 0; i < 1000; i++) out[i] = nrCpxPack(i * 65 - 32768, 32767 - i * 37);
  nrSampleFileWrite(out.data(), 1000, "w.dat", 1);
  std::vector<int32_t> in(1000, 0);
  nrSampleFileRead(in.data(), 1000, "w.dat");
  EXPECT_EQ(in, out);
  EXPECT_EQ(readWholeFile("w.dat").substr(0, 14), "-32768,32767\n-");
}

TEST(SampleFile, AppendAndOverwriteModes) {
  ScopedTempDir dir;
  const int32_t s[2] = {nrCpxPack(-37, 512), nrCpxPack(1, -1)};
  nrSampleFileWrite(s, 1, "a.dat", 1);
  nrSampleFileWrite(s + 1, 1, "a.dat", 0);
  EXPECT_EQ(readWholeFile("a.dat"), "-37,512\n1,-1\n");
  nrSampleFileWrite(s, 0, "a.dat", 0);
  EXPECT_EQ(readWholeFile("a.dat"), "-37,512\n1,-1\n");
  nrSampleFileWrite(s, 0, "a.dat", 1);
  EXPECT_EQ(readWholeFile("a.dat"), "");
}

TEST(SampleFile, ReaderStopsAtCapacityOrEndOfFile) {
  ScopedTempDir dir;
  struct Case {
    int fileLines;
    uint32_t capacity;
    const char* eol;
    int expectRead;
  } cases[] = {{100, 30720, "\n", 100},
               {40000, 30720, "\n", 30720},
               {100, 30720, "\r\n", 100},
               {10, 4, "\n", 4}};
  for (const Case& c : cases) {
    writeWholeFile("r.dat", lines(c.fileLines, c.eol));
    std::vector<int32_t> in = marked(c.capacity + 8);
    nrSampleFileRead(in.data(), c.capacity, "r.dat");
    for (int i = 0; i < c.expectRead; i++) ASSERT_EQ(in[i], nrCpxPack(i, -i)) << i;
    for (size_t i = c.expectRead; i < in.size(); i++)
      ASSERT_EQ(in[i], nrCpxPack(7, 7)) << "untouched " << i;
  }
}

TEST(SampleFile, OutOfRangeValuesKeepTheirLowBits) {
  ScopedTempDir dir;
  writeWholeFile("v.dat", "40000,-40000\n65536,99999999999999999999\n");
  std::vector<int32_t> in = marked(2);
  nrSampleFileRead(in.data(), 2, "v.dat");
  EXPECT_EQ(nrCpxRe(in[0]), -25536);
  EXPECT_EQ(nrCpxIm(in[0]), 25536);
  EXPECT_EQ(nrCpxRe(in[1]), 0);
  // 10^20 - 1 mod 2^16
  EXPECT_EQ(static_cast<uint16_t>(nrCpxIm(in[1])), 0xFFFF);
}

TEST(SampleFile, GarbageStopsTheReaderWithoutTouchingLaterSamples) {
  ScopedTempDir dir;
  const std::string binary =
      std::string("\x01\xff", 2) + std::string(1, '\0') + "garbage-bytes-without-numbers";
  struct Case {
    std::string text;
    int fullSamples;  // lines read completely
    bool partialRe;   // the next sample got its I value only
  } cases[] = {
      {"1,2\n3,4\nhello\n5,6\n", 2, false},
      {"1,2\n3;4\n5,6\n7,8\n", 1, true},
      {"1,2\n3,x\n5,6\n7,8\n", 1, true},
      {binary, 0, false},
      {"1,2\n-", 1, false},
      {"1,2", 0, false},  // shorter than one line's four bytes: nothing is read
  };
  for (const Case& c : cases) {
    writeWholeFile("g.dat", c.text);
    std::vector<int32_t> in = marked(16);
    nrSampleFileRead(in.data(), 16, "g.dat");
    for (int i = 0; i < c.fullSamples; i++)
      EXPECT_EQ(in[i], nrCpxPack(2 * i + 1, 2 * i + 2)) << c.text << " sample " << i;
    int next = c.fullSamples;
    if (c.partialRe) {
      EXPECT_EQ(in[next], nrCpxPack(2 * next + 1, 7)) << c.text;
      next++;
    }
    for (int i = next; i < 16; i++) EXPECT_EQ(in[i], nrCpxPack(7, 7)) << c.text << " sample " << i;
  }
}

TEST(SampleFile, MissingFileIsReportedAndChangesNothing) {
  ScopedTempDir dir;
  std::vector<int32_t> in = marked(4);
  const std::string out =
      captureStdout([&] { nrSampleFileRead(in.data(), 4, "no/such/file.dat"); });
  EXPECT_EQ(out, "Fail to open file: no/such/file.dat!\n");
  EXPECT_EQ(in, marked(4));
  const std::string out2 =
      captureStdout([&] { nrSampleFileWrite(in.data(), 4, "no/such/dir/x.dat", 1); });
  EXPECT_EQ(out2, "Fail to open file: no/such/dir/x.dat!\n");
}
