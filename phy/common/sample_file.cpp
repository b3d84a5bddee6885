#include "phy/common/sample_file.h"

#include <unistd.h>

#include <string>

#include "config/console.h"
#include "config/input_file.h"
#include "config/nr_config.h"
#include "phy/common/stage_profile.h"
#include "phy/common/text_lines.h"

namespace {

constexpr std::size_t kShownLineMax = 60;  // characters of a malformed line in its diagnostic

// Line number `line` of the file (1-based), cut to kShownLineMax characters, control characters
// shown as '?'.
std::string lineText(int fd, uint64_t line) {
  if (lseek(fd, 0, SEEK_SET) != 0) return "";
  std::string text;
  uint64_t at = 1;
  char buf[4096];
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof(buf));
    if (n <= 0) return text;
    for (ssize_t i = 0; i < n; i++) {
      const char ch = buf[i];
      if (ch == '\n') {
        if (at == line) return text;
        at++;
      } else if (at == line && ch != '\r' && text.size() < kShownLineMax) {
        text += static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F ? '?' : ch;
      }
    }
  }
}

}  // namespace

bool nrSampleFileWrite(const int32_t* samples, uint32_t count, const char* path,
                       uint8_t overwrite) {
  return nrWriteTextLines(path, overwrite == 0, count, [samples](uint32_t i, char* p) {
    p = nrPutInt(p, nrCpxRe(samples[i]));
    *p++ = ',';
    p = nrPutInt(p, nrCpxIm(samples[i]));
    *p++ = '\n';
    return p;
  });
}

int64_t nrSampleFileRead(int32_t* samples, uint32_t capacity, const char* path) {
  NrStageScope io(NrStage::kFileIo);
  NrInputFile f;
  if (!nrOpenInputFile(path, &f)) {
    nrPrintf("Fail to open file: %s!\n", path);
    if (f.kind == nullptr)
      nrDiag("%s: cannot open for reading: %s\n", path, nrInputFileReason(&f));
    else
      nrDiag("%s: %s, not a waveform file: not read\n", path, f.kind);
    return -1;
  }
  const int fd = f.fd;
  // A line holds at least four bytes ("0,0" and a line end).
  const uint64_t lines = f.size / 4;
  const uint32_t n = lines < capacity ? static_cast<uint32_t>(lines) : capacity;

  // The reader scans every character: large chunks.
  static char chunk[1 << 16];
  NrTextIn in;
  nrTextInit(&in, fd, chunk, sizeof(chunk));
  uint32_t read = 0;
  uint64_t badLine = 0;
  uint64_t rangeLine = 0;
  for (; read < n; read++) {
    NrScannedInt re{}, im{};
    const NrScan first = nrScanInt(&in, &re);
    if (first != NrScan::kOk) {
      // Blank lines up to the end of the file are no malformed line.
      if (first == NrScan::kBad) badLine = in.line;
      break;
    }
    // What matched before a mismatch is stored; every later scan matches nothing.
    const int16_t oldIm = nrCpxIm(samples[read]);
    samples[read] = nrCpxPack(static_cast<int>(re.wrapped & 0xFFFFu), oldIm);
    if (in.peek() != ',') {
      badLine = in.line;
      break;
    }
    in.skip();
    if (nrScanInt(&in, &im) != NrScan::kOk) {
      badLine = in.line;
      break;
    }
    samples[read] =
        nrCpxPack(static_cast<int>(re.wrapped & 0xFFFFu), static_cast<int>(im.wrapped & 0xFFFFu));
    if ((!re.inInt16 || !im.inInt16) && rangeLine == 0) rangeLine = in.line;
    nrSkipSpace(&in);
  }

  if (rangeLine != 0)
    nrDiag(
        "%s: line %llu holds a value outside int16 (-32768..32767): such values keep only "
        "their low 16 bits (warned once per file)\n",
        path, static_cast<unsigned long long>(rangeLine));
  if (badLine != 0)
    nrDiag("%s: line %llu is not a sample \"I,Q\": \"%s\"; %u samples read\n", path,
           static_cast<unsigned long long>(badLine), lineText(fd, badLine).c_str(), read);
  nrCloseInputFile(&f);
  return read;
}
