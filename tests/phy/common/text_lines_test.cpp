#include "phy/common/text_lines.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <climits>
#include <csignal>
#include <string>

#include "tests/test_util.h"

TEST(TextLines, IntegersFormatLikePrintf) {
  const int32_t values[] = {0, 1, -1, 9, 10, -10, 32767, -32768, 123456789, INT32_MAX, INT32_MIN};
  for (int32_t v : values) {
    char ours[16];
    char ref[16];
    *nrPutInt(ours, v) = '\0';
    std::snprintf(ref, sizeof(ref), "%d", v);
    EXPECT_STREQ(ours, ref);
  }
}

TEST(TextLines, RewriteReplacesLongerContentsAndAppendExtends) {
  ScopedTempDir dir;
  writeWholeFile("t.txt", std::string(200000, 'x'));  // longer than what follows, several chunks
  const auto line = [](uint32_t i, char* p) {
    p = nrPutInt(p, static_cast<int32_t>(i) - 5);
    *p++ = '\n';
    return p;
  };
  ASSERT_TRUE(nrWriteTextLines("t.txt", false, 3, line));
  EXPECT_EQ(readWholeFile("t.txt"), "-5\n-4\n-3\n");
  ASSERT_TRUE(nrWriteTextLines("t.txt", true, 2, line));
  EXPECT_EQ(readWholeFile("t.txt"), "-5\n-4\n-3\n-5\n-4\n");

  // Many lines cross the internal chunk boundary without losing or repeating any.
  ASSERT_TRUE(nrWriteTextLines("big.txt", false, 50000, line));
  std::string expect;
  for (int i = 0; i < 50000; i++) expect += std::to_string(i - 5) + "\n";
  EXPECT_EQ(readWholeFile("big.txt"), expect);

  const std::string out =
      captureStdout([&] { EXPECT_FALSE(nrWriteTextLines("no/dir/t.txt", false, 1, line)); });
  EXPECT_EQ(out, "Fail to open file: no/dir/t.txt!\n");
}

// Only regular files are cut to length: rewriting a device (or a pipe) succeeds without a
// complaint, as it does when the file is opened for plain writing.
TEST(TextLines, RewritingADeviceNeedsNoCut) {
  const auto line = [](uint32_t i, char* p) {
    p = nrPutInt(p, static_cast<int32_t>(i));
    *p++ = '\n';
    return p;
  };
  bool ok = false;
  const std::string out =
      captureStdout([&] { ok = nrWriteTextLines("/dev/null", false, 100, line); });
  EXPECT_TRUE(ok);
  EXPECT_EQ(out, "");
}

namespace {

char* numberLine(uint32_t i, char* p) {
  p = nrPutInt(p, static_cast<int32_t>(i));
  *p++ = '\n';
  return p;
}

// Limits the size of files this process writes (writes beyond fail with EFBIG) while in scope.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &old_);
    signal(SIGXFSZ, SIG_IGN);
    rlimit lim = old_;
    lim.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &lim);
  }
  ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &old_); }

 private:
  rlimit old_;
};

}  // namespace

// A full device, a write that fails part-way and a FIFO without a reader: each is reported on
// the error stream with the file and the reason, counted, and leaves nothing that looks
// complete (a rewritten file is removed, an appended one cut back to its old end).
TEST(TextLines, FailedWritesAreReportedAndLeaveNoCompleteLookingFile) {
  ScopedTempDir dir;
  const uint32_t lostBefore = nrOutFileFailures();
  std::string err =
      captureDiag([] { EXPECT_FALSE(nrWriteTextLines("/dev/full", false, 10, numberLine)); });
  EXPECT_NE(err.find("/dev/full: write failed: No space left on device"), std::string::npos) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);

  writeWholeFile("old.txt", "an earlier run\n");
  writeWholeFile("log.txt", "kept\n");
  {
    FileSizeLimit limit(4096);
    err = captureDiag([] {
      EXPECT_FALSE(nrWriteTextLines("old.txt", false, 50000, numberLine));
      EXPECT_FALSE(nrWriteTextLines("log.txt", true, 50000, numberLine));
      EXPECT_FALSE(nrWriteFileBytes("bin.dat", std::string(100000, 'b').data(), 100000));
    });
  }
  EXPECT_NE(err.find("old.txt: write failed: File too large"), std::string::npos) << err;
  EXPECT_NE(access("old.txt", F_OK), 0) << "a partly rewritten file stayed behind";
  EXPECT_EQ(readWholeFile("log.txt"), "kept\n");
  EXPECT_NE(access("bin.dat", F_OK), 0);

  ASSERT_EQ(mkfifo("pipe.txt", 0644), 0);
  err = captureDiag([] { EXPECT_FALSE(nrWriteTextLines("pipe.txt", false, 10, numberLine)); });
  EXPECT_NE(err.find("pipe.txt: cannot open for writing: a FIFO without a reader"),
            std::string::npos)
      << err;
  EXPECT_EQ(nrOutFileFailures(), lostBefore + 5);
}

TEST(TextLines, BytesReplaceTheFileExactly) {
  ScopedTempDir dir;
  writeWholeFile("b.dat", std::string(1000, 'x'));
  const char data[] = {'\0', '\1', '\n', '\r', 'z'};
  ASSERT_TRUE(nrWriteFileBytes("b.dat", data, sizeof(data)));
  EXPECT_EQ(readWholeFile("b.dat"), std::string(data, sizeof(data)));
}
