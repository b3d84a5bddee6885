#include "phy/common/text_lines.h"

#include <gtest/gtest.h>

#include <climits>
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
