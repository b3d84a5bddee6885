// The reference-vector formats: the exact text of every writer, every reader reading back what its
// writer wrote, and files from other tools (malformed, truncated, oversized, not regular) refused
// with a report and without a write beyond the caller's room.
#include "hwmodel/hw_ref_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "tests/test_util.h"

namespace {

std::string fmt(const char* f, uint32_t a, uint32_t b = 0) {
  char buf[64];
  std::snprintf(buf, sizeof(buf), f, a, b);
  return buf;
}

// The word of elements first .. first+count-1 of bits, bit k = element first + k.
uint64_t word(const std::vector<int32_t>& bits, size_t first, size_t count) {
  uint64_t w = 0;
  for (size_t k = 0; k < count && first + k < bits.size(); k++)
    w |= static_cast<uint64_t>(bits[first + k] & 1) << k;
  return w;
}

std::string dataLines(const std::vector<int32_t>& bits) {
  std::string s;
  for (size_t l = 0; l < (bits.size() + 63) / 64; l++) {
    const uint64_t w = word(bits, 64 * l, 64);
    s += fmt("0 %08x%08x \n", static_cast<uint32_t>(w >> 32), static_cast<uint32_t>(w));
  }
  return s;
}

std::vector<int32_t> patternBits(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<int32_t> v(n);
  for (int32_t& b : v) b = static_cast<int32_t>(rng() & 1);
  return v;
}

int64_t fileSize(const char* path) {
  struct stat st;
  return stat(path, &st) == 0 ? st.st_size : -1;
}

constexpr uint32_t kCanary = 0xC0FFEEu;

}  // namespace

TEST(HwRefFiles, TaggedWritersWriteTheirExactFormats) {
  ScopedTempDir dir;
  const std::vector<int32_t> bits = patternBits(70, 1);
  const std::string data = dataLines(bits);
  const std::string end = "f ffffffff \n\n";

  ASSERT_TRUE(nrHwRefTaggedBitsWrite("t.txt", false, bits.data(), 70, 0x1234));
  EXPECT_EQ(readWholeFile("t.txt"),
            "1 00000000 \n2 00000046 \n3 00001234 \na 00000000 \n" + data + end + "\n");

  headInfo[0] = 5;
  headInfo[1] = 70;
  headInfo[2] = 2;
  headInfo[3] = 1;
  const std::string head = "1 00000005 \n2 00000046 \n3 00000002 \n4 00000001 \n";
  ASSERT_TRUE(nrHwRefHeaded64Write("h.txt", false, bits.data(), 70));
  EXPECT_EQ(readWholeFile("h.txt"), head + data + end);

  // 16-bit words: 70 bits are five words, the last holding six bits.
  std::string words, addressed;
  for (uint32_t w = 0; w < 5; w++) {
    words += "0 " + fmt("%04x \n", static_cast<uint32_t>(word(bits, 16 * w, 16)));
    addressed +=
        fmt("%04x", 0x3FFE + w) + fmt("%04x \n", static_cast<uint32_t>(word(bits, 16 * w, 16)));
  }
  ASSERT_TRUE(nrHwRefHeadedWordsWrite("w.txt", false, bits.data(), 70, 16, -1));
  EXPECT_EQ(readWholeFile("w.txt"), head + words + end);
  ASSERT_TRUE(nrHwRefHeadedWordsWrite("a.txt", false, bits.data(), 70, 16, 0x3FFE));
  EXPECT_EQ(readWholeFile("a.txt"), addressed + end);

  // The encoder-cell and circular-buffer dumps: bitLen slots of each 48-slot row, AND 1.
  std::vector<int32_t> cell(3 * 48, 7);
  for (int k = 0; k < 3 * 48; k++) cell[k] = k % 48 < 5 ? (k * 3) & 3 : 9;
  std::string cbEnc = head, cirbuf;
  for (int r = 0; r < 3; r++)
    for (int k = 0; k < 5; k++) {
      cbEnc += std::to_string(cell[48 * r + k] & 1) + "\n";
      cirbuf += std::to_string(cell[48 * r + k] & 1) + " \n";
    }
  ASSERT_TRUE(nrHwCbEncDump("c.txt", false, cell.data(), 3, 5));
  EXPECT_EQ(readWholeFile("c.txt"), cbEnc + end);
  ASSERT_TRUE(nrHwCirBufDump("b.txt", false, cell.data(), 3, 5));
  EXPECT_EQ(readWholeFile("b.txt"), cirbuf);
  // Appending adds a whole record.
  ASSERT_TRUE(nrHwCbEncDump("c.txt", true, cell.data(), 3, 5));
  EXPECT_EQ(readWholeFile("c.txt"), cbEnc + end + cbEnc + end);
}

TEST(HwRefFiles, ListAndAddressWritersWriteTheirExactFormats) {
  ScopedTempDir dir;
  const std::vector<uint32_t> vals = {0, 1, 0xFFFFFFFFu, 0x80000000u, 0x1234ABCDu};

  ASSERT_TRUE(nrHwRefAddrBlockWrite("ab.txt", false, vals.data(), 3, 2, 0xAA, 0xBB));
  ASSERT_TRUE(nrHwRefAddrBlockWrite("ab.txt", true, vals.data() + 3, 2, 5, 0xCC, 0xDD));
  EXPECT_EQ(readWholeFile("ab.txt"),
            "11111111 000000aa \ndddddddd 000000bb \nd4c00408 00000000 \nd4c0040c 00000001 \n"
            "d4c00410 ffffffff \nffffffff ffffffff \n\nd4c00414 80000000 \nd4c00418 1234abcd \n"
            "ffffffff ffffffff \n\n");

  ASSERT_TRUE(nrHwRefAddrListWrite("al.txt", false, vals.data(), 2, 0x100));
  EXPECT_EQ(readWholeFile("al.txt"),
            "11111111 00000000 \ndddddddd 00000000 \n00000100 00000000 \n00000104 00000001 \n"
            "ffffffff ffffffff \n\n");
  ASSERT_TRUE(nrHwRefAddrListWrite("al2.txt", false, vals.data(), 1, 8, "%X:%u\n"));
  EXPECT_EQ(readWholeFile("al2.txt"), "11111111:0\nDDDDDDDD:0\n8:0\nFFFFFFFF:4294967295\n\n");

  const std::vector<int32_t> ints = {0, -1, 42, -2147483647 - 1};
  ASSERT_TRUE(nrHwRefValuesWrite("v1.txt", false, ints.data(), 4));
  EXPECT_EQ(readWholeFile("v1.txt"), "0 \n-1 \n42 \n-2147483648 \n");
  ASSERT_TRUE(nrHwRefValuesWrite("v2.txt", false, ints.data(), 4, "[%+5d]%%\n"));
  EXPECT_EQ(readWholeFile("v2.txt"), "[   +0]%\n[   -1]%\n[  +42]%\n[-2147483648]%\n");
  ASSERT_TRUE(nrHwRefValuesWrite("v3.txt", false, ints.data(), 4, "%x\n"));
  EXPECT_EQ(readWholeFile("v3.txt"), "0\nffffffff\n2a\n80000000\n");

  // Packed words: 8 bits a word, bit k = element k; the last word padded with zeros.
  const std::vector<int32_t> bits = patternBits(20, 2);
  ASSERT_TRUE(nrHwRefPackedWrite("p.txt", false, bits.data(), 20, 8, "%02x \n"));
  EXPECT_EQ(readWholeFile("p.txt"), fmt("%02x \n", static_cast<uint32_t>(word(bits, 0, 8))) +
                                        fmt("%02x \n", static_cast<uint32_t>(word(bits, 8, 8))) +
                                        fmt("%02x \n", static_cast<uint32_t>(word(bits, 16, 4))));

  // Wide words: groups of 40 bits in twelve words, the most significant first.
  const std::vector<int32_t> wide = patternBits(80, 3);
  std::string wideText;
  for (int g = 0; g < 2; g++) {
    for (int w = 11; w >= 0; w--) {
      const int count = 40 - 32 * w;
      wideText += fmt("%08x", count > 0 ? static_cast<uint32_t>(
                                              word(wide, 40 * g + 32 * w, count > 32 ? 32 : count))
                                        : 0u);
    }
    wideText += " \n";
  }
  ASSERT_TRUE(nrHwRefWideWrite("wide.txt", false, wide.data(), 80, 40));
  EXPECT_EQ(readWholeFile("wide.txt"), wideText);

  // CRC matrix rows: elements 64 .. 71 only for 24-bit codes, the value first element first.
  const std::vector<int32_t> row = patternBits(72, 4);
  std::vector<int32_t> value(24, 0);
  value[0] = value[23] = 1;
  const uint64_t low = word(row, 0, 64);
  ASSERT_TRUE(nrHwRefMatrixRowWrite("m.txt", false, row.data(), value.data(), 24));
  ASSERT_TRUE(nrHwRefMatrixRowWrite("m.txt", true, row.data(), value.data(), 16));
  EXPECT_EQ(readWholeFile("m.txt"),
            fmt("%02x", static_cast<uint32_t>(word(row, 64, 8))) +
                fmt("%08x%08x ", static_cast<uint32_t>(low >> 32), static_cast<uint32_t>(low)) +
                "800001 \n00" +
                fmt("%08x%08x ", static_cast<uint32_t>(low >> 32), static_cast<uint32_t>(low)) +
                "008000 \n");

  ASSERT_TRUE(nrHwRefRegTableWrite("reg.txt", false, 0, "stale", "row"));
  ASSERT_TRUE(nrHwRefRegTableWrite("reg.txt", true, 0, "Name", "Value"));
  ASSERT_TRUE(nrHwRefRegTableWrite("reg.txt", false, 3, "cbNum", "0x0000000c"));
  EXPECT_EQ(
      readWholeFile("reg.txt"),
      "Index \t Name                 \t Value \n3     \t cbNum                \t 0x0000000c \n");

  // Per-symbol dump: symbol by symbol, stream by stream; 12-bit counts from the register block.
  uint32_t regs[2 * 14] = {};
  regs[0] = 0xF002;  // stream 0, symbol 0: two words (the bits above 12 ignored)
  regs[14 + 0] = 1;  // stream 1, symbol 0
  regs[5] = 1;       // stream 0, symbol 5
  const uint16_t s0[] = {0x1, 0xABCD, 0x12};
  const uint16_t s1[] = {0xFFFF};
  const uint16_t* const streams[] = {s0, s1};
  const uint32_t lens[] = {3, 1};
  ASSERT_TRUE(nrHwRefSymbolDump("sym.txt", false, regs, streams, lens, 2));
  EXPECT_EQ(readWholeFile("sym.txt"), "0001 \nabcd \nffff \n0012 \n");
  regs[13] = 5;  // more words than stream 0 holds
  const std::string err = captureDiag(
      [&] { EXPECT_FALSE(nrHwRefSymbolDump("sym2.txt", false, regs, streams, lens, 2)); });
  EXPECT_NE(err.find("nrHwRefSymbolDump()"), std::string::npos);
  EXPECT_EQ(fileSize("sym2.txt"), -1);
}

// Every reader reads back what its writer wrote, over sizes around the 64-bit line and across
// appended blocks and chained offsets.
TEST(HwRefFiles, ReadersReadBackWhatTheWritersWrote) {
  ScopedTempDir dir;
  std::mt19937 rng(9);
  for (const uint32_t n : {0u, 1u, 63u, 64u, 65u, 1000u}) {
    SCOPED_TRACE("n " + std::to_string(n));
    std::vector<int32_t> vals(n);
    for (int32_t& v : vals) v = static_cast<int32_t>(rng());

    // Value list in hex and packed words, read with the word reader in two calls.
    ASSERT_TRUE(nrHwRefValuesWrite("v.txt", false, vals.data(), n, "%x \n"));
    std::vector<uint32_t> got(n + 1, kCanary);
    const int64_t mid = nrHwRefWordsRead("v.txt", 0, got.data(), n / 2);
    ASSERT_GE(mid, 0);
    ASSERT_EQ(nrHwRefWordsRead("v.txt", mid, got.data() + n / 2, n - n / 2), fileSize("v.txt"));
    EXPECT_EQ(std::vector<int32_t>(got.begin(), got.begin() + n), vals);
    EXPECT_EQ(got[n], kCanary);

    const std::vector<int32_t> bits = patternBits(n, n);
    ASSERT_TRUE(nrHwRefPackedWrite("p.txt", false, bits.data(), n, 32));
    std::vector<uint32_t> packed((n + 31) / 32);
    ASSERT_EQ(nrHwRefWordsRead("p.txt", 0, packed.data(), static_cast<uint32_t>(packed.size())),
              fileSize("p.txt"));
    for (uint32_t i = 0; i < n; i++) ASSERT_EQ((packed[i / 32] >> (i % 32)) & 1, bits[i] & 1u);

    // Tagged bit block (id 0, stride 3) followed by a headed block with id 9, read by id.
    ASSERT_TRUE(nrHwRefTaggedBitsWrite("t.txt", false, bits.data(), n, 3));
    const std::vector<int32_t> more = patternBits(n + 7, n + 1);
    headInfo[0] = 9;
    headInfo[1] = n + 7;
    headInfo[2] = 0;
    ASSERT_TRUE(nrHwRefHeaded64Write("t.txt", true, more.data(), n + 7));
    std::vector<int32_t> strided(3 * n + 1, -1);
    uint32_t stride = 0;
    ASSERT_EQ(nrHwRefTaggedRead("t.txt", 0, strided.data(), 3 * n + 1, &stride), n);
    EXPECT_EQ(stride, 3u);
    for (uint32_t i = 0; i < n; i++) ASSERT_EQ(strided[3 * i], bits[i]) << i;
    std::vector<int32_t> second(n + 7, -1);
    ASSERT_EQ(nrHwRefTaggedRead("t.txt", 9, second.data(), n + 7, &stride), n + 7);
    EXPECT_EQ(stride, 1u);
    EXPECT_EQ(second, more);

    // Address list, two of them appended, read with the pair reader from the returned offsets.
    std::vector<uint32_t> words(vals.begin(), vals.end());
    ASSERT_TRUE(nrHwRefAddrListWrite("l.txt", false, words.data(), n, 0x40));
    ASSERT_TRUE(nrHwRefAddrListWrite("l.txt", true, words.data(), n / 2, 0x80));
    std::vector<uint32_t> pairs(n + 1, kCanary);
    const int64_t next = nrHwRefPairsRead("l.txt", 0, 2, pairs.data(), n);
    ASSERT_GT(next, 0);
    EXPECT_EQ(std::vector<uint32_t>(pairs.begin(), pairs.begin() + n), words);
    EXPECT_EQ(pairs[n], kCanary);
    ASSERT_EQ(nrHwRefPairsRead("l.txt", next, 2, pairs.data(), n / 2), fileSize("l.txt"));
    EXPECT_EQ(std::vector<uint32_t>(pairs.begin(), pairs.begin() + n / 2),
              std::vector<uint32_t>(words.begin(), words.begin() + n / 2));

    // Address block with an appended block: values across both, and from inside the second.
    ASSERT_TRUE(nrHwRefAddrBlockWrite("b.txt", false, words.data(), n, 0, 1, 2));
    ASSERT_TRUE(nrHwRefAddrBlockWrite("b.txt", true, words.data(), n / 2, n, 1, 2));
    std::vector<uint32_t> block(n + n / 2 + 1, kCanary);
    ASSERT_EQ(nrHwRefAddrBlockRead("b.txt", 0, block.data(), n + n / 2), n + n / 2);
    EXPECT_EQ(block[n + n / 2], kCanary);
    for (uint32_t i = 0; i < n + n / 2; i++) ASSERT_EQ(block[i], words[i % n]) << i;
    if (n >= 2) {
      ASSERT_EQ(nrHwRefAddrBlockRead("b.txt", n + 1, block.data(), n / 2 - 1), n / 2 - 1);
      EXPECT_EQ(block[0], words[1]);
    }
  }
}

namespace {

enum class Reader { kWords, kTagged, kPairs, kAddr };

struct BadCase {
  const char* what;
  Reader reader;
  std::string text;
  uint32_t n;  // values wanted, or the capacity of the tagged reader
  const char* says;
};

int64_t runReader(Reader r, const char* path, uint32_t n, std::vector<uint32_t>& out) {
  switch (r) {
    case Reader::kWords:
      return nrHwRefWordsRead(path, 0, out.data(), n);
    case Reader::kTagged: {
      uint32_t stride = 77;
      const int64_t got =
          nrHwRefTaggedRead(path, 0, reinterpret_cast<int32_t*>(out.data()), n, &stride);
      if (got < 0) {
        EXPECT_EQ(stride, 77u);
      }
      return got;
    }
    case Reader::kPairs:
      return nrHwRefPairsRead(path, 0, 1, out.data(), n);
    case Reader::kAddr:
      return nrHwRefAddrBlockRead(path, 0, out.data(), n);
  }
  return 0;
}

}  // namespace

// Files of other tools: every fault is refused with a line naming the file and what is wrong, and
// nothing is stored beyond the room the caller gave.
TEST(HwRefFiles, ReadersRefuseMalformedAndTruncatedFiles) {
  ScopedTempDir dir;
  const std::string head = "1 00000000 \n2 00000046 \n3 00000001 \n";
  const std::string line = "0 0123456789abcdef \n";
  const std::string end = "f ffffffff \n\n";
  const std::string addrHead = "11111111 00000000 \ndddddddd 00000000 \n";
  const BadCase cases[] = {
      {"word: not hexadecimal", Reader::kWords, "12 zz\n", 2, "malformed text at byte 3"},
      {"word: beyond 32 bits", Reader::kWords, "123456789\n", 1, "malformed"},
      {"word: a sign", Reader::kWords, "-1\n", 1, "malformed"},
      {"word: glued text", Reader::kWords, "12x4\n", 1, "malformed"},
      {"word: truncated", Reader::kWords, "1 2 3\n", 4, "ends after 3 of 4 words"},
      {"word: empty", Reader::kWords, "", 1, "ends after 0 of 1"},
      {"tagged: no such block", Reader::kTagged, "1 00000005 \n2 00000001 \n" + line + end, 64,
       "no block with id 0"},
      {"tagged: count beyond the room", Reader::kTagged, head + line + line + end, 69,
       "exceeds the 69 elements provided"},
      {"tagged: count beyond 32 bits of room", Reader::kTagged,
       "1 0 \n2 ffffffff \n3 ffffffff \n" + line, 1000, "exceeds"},
      {"tagged: data cut short", Reader::kTagged, head + line, 70, "truncated"},
      {"tagged: no end line", Reader::kTagged, head + line + line, 70, "truncated"},
      {"tagged: one data line too many", Reader::kTagged, head + line + line + line + end, 70,
       "malformed"},
      {"tagged: a data word beyond 64 bits", Reader::kTagged,
       head + "0 10123456789abcdef \n" + line + end, 70, "malformed"},
      {"tagged: a tag beyond one digit", Reader::kTagged, head + "10 00000000 \n" + end, 70,
       "malformed"},
      {"tagged: header cut", Reader::kTagged, "1 00000000 \n2 ", 70, "truncated"},
      {"tagged: data without a count", Reader::kTagged, "1 00000000 \n" + line + end, 70,
       "malformed"},
      {"tagged: a header inside the header", Reader::kTagged, head + head + line + line + end, 70,
       "malformed"},
      {"tagged: an end line before the data", Reader::kTagged, head + end, 70, "malformed"},
      {"pairs: cut inside a pair", Reader::kPairs, addrHead + "00000004 ", 2, "truncated"},
      {"pairs: malformed", Reader::kPairs, addrHead + "00000004 +5 \n", 2, "malformed"},
      {"address: no header", Reader::kAddr, "00000004 00000005 \n", 1, "not an address block"},
      {"address: second header missing", Reader::kAddr, "11111111 00000000 \n12345678 00000000 \n",
       1, "not an address block"},
      {"address: truncated", Reader::kAddr,
       addrHead + "d4c00400 00000001 \n" + "ffffffff ffffffff \n\n", 2, "ends after 1 of 2"},
  };
  for (const BadCase& c : cases) {
    writeWholeFile("bad.txt", c.text);
    std::vector<uint32_t> out(c.n + 4, kCanary);
    int64_t got = 0;
    const ConsoleText t = captureConsole([&] { got = runReader(c.reader, "bad.txt", c.n, out); });
    EXPECT_EQ(got, -1) << c.what;
    EXPECT_NE(t.err.find("bad.txt"), std::string::npos) << c.what << ": " << t.err;
    EXPECT_NE(t.err.find(c.says), std::string::npos) << c.what << ": " << t.err;
    for (uint32_t i = c.n; i < c.n + 4; i++) EXPECT_EQ(out[i], kCanary) << c.what;
    if (c.reader == Reader::kTagged) {
      for (uint32_t i = 0; i < c.n; i++) EXPECT_EQ(out[i], kCanary) << c.what << ", element " << i;
    }
  }
}

// A missing file, a directory, a FIFO without a writer (which must not block), an offset beyond
// the end and a file beyond the size limit are refused before anything is read.
TEST(HwRefFiles, ReadersRefuseWhatIsNoReferenceFile) {
  ScopedTempDir dir;
  ASSERT_EQ(mkdir("dir.txt", 0755), 0);
  ASSERT_EQ(mkfifo("fifo.txt", 0644), 0);
  const int fd = open("huge.txt", O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, kHwRefFileMaxBytes + 1), 0);  // sparse: no disk space used
  close(fd);
  writeWholeFile("small.txt", "1 2 \n");
  struct Case {
    const char* path;
    int64_t offset;
    const char* says;
  };
  const Case cases[] = {
      {"missing.txt", 0, "cannot open for reading"},
      {"dir.txt", 0, "a directory"},
      {"fifo.txt", 0, "a FIFO"},
      {"huge.txt", 0, "more than the 268435456 bytes"},
      {"small.txt", 6, "offset 6 lies outside"},
      {"small.txt", -1, "offset -1 lies outside"},
  };
  for (const Case& c : cases) {
    uint32_t out[4] = {kCanary, kCanary, kCanary, kCanary};
    int32_t bits[4] = {7, 7, 7, 7};
    uint32_t stride = 0;
    const ConsoleText t = captureConsole([&] {
      EXPECT_EQ(nrHwRefWordsRead(c.path, c.offset, out, 2), -1) << c.path;
      EXPECT_EQ(nrHwRefPairsRead(c.path, c.offset, 0, out, 1), -1) << c.path;
      if (c.offset == 0) {
        EXPECT_EQ(nrHwRefTaggedRead(c.path, 0, bits, 4, &stride), -1) << c.path;
        EXPECT_EQ(nrHwRefAddrBlockRead(c.path, 0, out, 1), -1) << c.path;
      }
    });
    EXPECT_NE(t.err.find(c.says), std::string::npos) << c.path << ": " << t.err;
    EXPECT_EQ(out[0], kCanary) << c.path;
    EXPECT_EQ(bits[0], 7) << c.path;
  }
}

// Caller formats print one value each in at most 48 characters; anything that could read beyond
// the value, print a string or run past the line is refused before a file is touched.
TEST(HwRefFiles, CallerFormatsAreCheckedBeforeAnythingIsWritten) {
  ScopedTempDir dir;
  const int32_t v[2] = {1, 2};
  const uint32_t u[2] = {1, 2};
  for (const char* f : {"%s \n", "%n", "%lx \n", "%*d\n", "%d %d\n", "plain\n", "%100d\n",
                        "%99d%%\n", "%.100d\n", "%q\n", "%", "%5", "%-+ #0"}) {
    const std::string err = captureDiag([&] {
      EXPECT_FALSE(nrHwRefValuesWrite("f.txt", false, v, 2, f)) << f;
      EXPECT_FALSE(nrHwRefPackedWrite("f.txt", false, v, 2, 4, f)) << f;
    });
    EXPECT_NE(err.find("format"), std::string::npos) << f << ": " << err;
  }
  EXPECT_FALSE(nrHwRefValuesWrite("f.txt", false, v, 2, nullptr));
  // A line of more than 48 characters, a format beyond 64 characters.
  EXPECT_FALSE(
      nrHwRefValuesWrite("f.txt", false, v, 2, "%d the value of this line is a little long\n"));
  EXPECT_FALSE(nrHwRefValuesWrite("f.txt", false, v, 2, std::string(70, 'x').append("%d").c_str()));
  // The address list takes two values; the headed words leave room for the address.
  EXPECT_FALSE(nrHwRefAddrListWrite("f.txt", false, u, 2, 0, "%08x \n"));
  EXPECT_FALSE(nrHwRefHeadedWordsWrite("f.txt", false, v, 2, 16, 0, "%d%d\n"));
  EXPECT_FALSE(nrHwRefHeadedWordsWrite("f.txt", false, v, 2, 16, 0,
                                       "%08x and a much longer tail of text\n"));
  EXPECT_FALSE(nrHwRefPackedWrite("f.txt", false, v, 2, 33, "%08x \n"));
  EXPECT_FALSE(nrHwRefWideWrite("f.txt", false, v, 2, 385));
  EXPECT_FALSE(nrHwCbEncDump("f.txt", false, v, 1, 49));
  EXPECT_EQ(fileSize("f.txt"), -1);
  EXPECT_TRUE(nrHwRefValuesWrite("f.txt", false, v, 2, "%#010x|%%\n"));
  EXPECT_EQ(readWholeFile("f.txt"), "0x00000001|%\n0x00000002|%\n");
}

TEST(HwRefFiles, TagNameGoesBeforeTheExtension) {
  char out[32];
  const struct {
    const char* name;
    int32_t kind;
    const char* expect;
  } cases[] = {
      {"res_hw.txt", 0, "res_hw_ack.txt"},
      {"a.b/res", 1, "a.b/res_csi1"},
      {"./dump.v.txt", 2, "./dump.v_csi2.txt"},
      {"", 0, "_ack"},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(nrHwRefTagName(c.name, c.kind, out, sizeof(out))) << c.name;
    EXPECT_STREQ(out, c.expect);
  }
  std::strcpy(out, "unchanged");
  EXPECT_FALSE(nrHwRefTagName("res.txt", 3, out, sizeof(out)));
  EXPECT_FALSE(nrHwRefTagName("res.txt", 0, out, 11));  // "res_ack.txt" needs 12 bytes
  EXPECT_STREQ(out, "unchanged");
  EXPECT_TRUE(nrHwRefTagName("res.txt", 0, out, 12));
}

TEST(HwRefFiles, CompareCountsTheDifferingPositions) {
  const int32_t a[] = {0, 1, 2, 3, -1};
  const int32_t b[] = {0, 2, 2, 4, -1};
  EXPECT_EQ(nrHwRefCompare(a, b, 5), 2u);
  EXPECT_EQ(nrHwRefCompare(a, a, 5), 0u);
  EXPECT_EQ(nrHwRefCompare(a, b, 1), 0u);
}
