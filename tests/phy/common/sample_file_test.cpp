#include "phy/common/sample_file.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// The first malformed line is named on the error stream with its number, its content (cut to 60
// characters) and the samples read before it; blank lines at the end are no malformed line.
TEST(SampleFile, FirstMalformedLineIsReportedWithItsNumberAndContent) {
  ScopedTempDir dir;
  const std::string longLine = "9," + std::string(80, 'x');
  const struct {
    std::string text;
    int64_t read;
    std::string report;  // expected in the diagnostic, empty for none
  } cases[] = {
      {"1,2\n12.0,-5.0\n3,4\n", 1, "line 2 is not a sample \"I,Q\": \"12.0,-5.0\"; 1 samples read"},
      {"I;Q\n", 0, "line 1 is not a sample \"I,Q\": \"I;Q\"; 0 samples read"},
      {"1,2\n3,4\n5 , 6\n", 2, "line 3 is not a sample \"I,Q\": \"5 , 6\"; 2 samples read"},
      {"1,2\n" + longLine + "\n", 1,
       "line 2 is not a sample \"I,Q\": \"" + longLine.substr(0, 60) + "\"; 1"},
      // A blank after the comma is fine, so are blank lines at the end.
      {"1,2\n3, 4\n\n\n\n\n", 2, ""},
      {"1,2\r\n3,4\r\n", 2, ""},
  };
  for (const auto& c : cases) {
    writeWholeFile("m.dat", c.text);
    std::vector<int32_t> in = marked(8);
    int64_t read = -2;
    const ConsoleText out = captureConsole([&] { read = nrSampleFileRead(in.data(), 8, "m.dat"); });
    EXPECT_EQ(read, c.read) << c.text;
    EXPECT_EQ(out.out, "") << c.text;
    if (!c.report.empty()) {
      EXPECT_NE(out.err.find("m.dat: " + c.report), std::string::npos) << c.text << "\n" << out.err;
      EXPECT_EQ(std::count(out.err.begin(), out.err.end(), '\n'), 1) << out.err;
    } else {
      EXPECT_EQ(out.err, "") << c.text;
    }
  }
}

// Values beyond int16 keep their low 16 bits, with one warning per file naming the first line.
TEST(SampleFile, OutOfRangeValuesAreWarnedOnce) {
  ScopedTempDir dir;
  writeWholeFile("v.dat", "1,2\n40000,-5\n3,-40000\n-32768,32767\n");
  std::vector<int32_t> in = marked(4);
  const ConsoleText out =
      captureConsole([&] { EXPECT_EQ(nrSampleFileRead(in.data(), 4, "v.dat"), 4); });
  EXPECT_EQ(nrCpxRe(in[1]), -25536);
  EXPECT_EQ(nrCpxIm(in[2]), 25536);
  EXPECT_NE(out.err.find("v.dat: line 2 holds a value outside int16"), std::string::npos)
      << out.err;
  EXPECT_EQ(std::count(out.err.begin(), out.err.end(), '\n'), 1) << out.err;

  writeWholeFile("edge.dat", "-32768,32767\n");
  EXPECT_EQ(captureDiag([&] { nrSampleFileRead(in.data(), 4, "edge.dat"); }), "");
}

// A FIFO (without a writer), a directory or a device is refused at once with a clear line, and
// no sample changes.
TEST(SampleFile, ReaderRefusesWhatIsNotARegularFileWithoutBlocking) {
  ScopedTempDir dir;
  ASSERT_EQ(mkfifo("fifo.dat", 0644), 0);
  ASSERT_EQ(mkdir("dir.dat", 0755), 0);
  const struct {
    const char* path;
    const char* kind;
  } cases[] = {{"fifo.dat", "a FIFO"}, {"dir.dat", "a directory"}, {"/dev/zero", "a device"}};
  for (const auto& c : cases) {
    std::vector<int32_t> in = marked(4);
    int64_t read = 0;
    const ConsoleText out = captureConsole([&] { read = nrSampleFileRead(in.data(), 4, c.path); });
    EXPECT_EQ(read, -1) << c.path;
    EXPECT_EQ(out.out, std::string("Fail to open file: ") + c.path + "!\n");
    EXPECT_NE(out.err.find(std::string(c.path) + ": " + c.kind), std::string::npos) << out.err;
    EXPECT_EQ(in, marked(4)) << c.path;
  }
}
