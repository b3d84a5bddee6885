// Fuzz target: the text sample reader nrSampleFileRead on arbitrary file contents.
//
// Every input is written whole to a private file and read with the receive action's capacity.
// Checked for every input:
//  - a regular file is never refused, and nothing is printed on the output stream;
//  - the count read is at most the capacity and at most one sample per four bytes of file;
//  - samples past the count read keep their earlier contents; the one at the count may have
//    taken its I value (the scan matched it before failing), never its Q value;
//  - reading again with half that count as capacity gives exactly the first samples of the first
//    read and leaves the rest untouched;
//  - every diagnostic is one line, and a malformed-line report quotes the count read.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "config/nr_config.h"
#include "fuzz/fuzz_util.h"
#include "phy/common/sample_file.h"

namespace {

constexpr uint32_t kCapacity = kSlotSampleCap;  // what the receive action reads
const int32_t kUntouched = nrCpxPack(0x5A5A, -0x2345);

// One guard element past the capacity.
int32_t firstRead[kCapacity + 1];
int32_t secondRead[kCapacity + 1];
std::string filePath;
fuzz_util::Console* console = nullptr;

void writeFile(const uint8_t* data, size_t size) {
  const int fd = open(filePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  FUZZ_CHECK(fd >= 0, "cannot create the sample file");
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    FUZZ_CHECK(n > 0, "cannot write the sample file");
    data += n;
    size -= static_cast<size_t>(n);
  }
  FUZZ_CHECK(close(fd) == 0, "cannot close the sample file");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  filePath = fuzz_util::privateDir("sample_file") + "/samples.dat";
  console = &fuzz_util::captureConsole();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  writeFile(data, size);
  console->clear();
  std::fill(std::begin(firstRead), std::end(firstRead), kUntouched);
  const int64_t got = nrSampleFileRead(firstRead, kCapacity, filePath.c_str());

  FUZZ_CHECK(got >= 0, "a regular file was refused");
  FUZZ_CHECK(console->out.empty(), "a readable file printed a console line");
  FUZZ_CHECK(console->diagLines, "a diagnostic is not one whole line");
  FUZZ_CHECK(got <= kCapacity, "more samples than the capacity");
  FUZZ_CHECK(static_cast<uint64_t>(got) <= size / 4, "more samples than lines of four bytes");
  const uint32_t n = static_cast<uint32_t>(got);
  if (n < kCapacity)
    FUZZ_CHECK(nrCpxIm(firstRead[n]) == nrCpxIm(kUntouched), "Q value stored without a sample");
  for (uint32_t i = n + 1; i <= kCapacity; i++)
    FUZZ_CHECK(firstRead[i] == kUntouched, "a sample past the count read was written");
  const size_t report = console->err.find(" is not a sample ");
  if (report != std::string::npos) {
    const std::string tail = "; " + std::to_string(n) + " samples read\n";
    FUZZ_CHECK(
        console->err.compare(console->err.size() - std::min(tail.size(), console->err.size()),
                             tail.size(), tail) == 0,
        "the malformed-line report does not quote the count read");
  }

  // The same file with a smaller capacity: a prefix of the same samples, read completely.
  const uint32_t half = n / 2;
  std::fill(std::begin(secondRead), std::end(secondRead), kUntouched);
  const int64_t again = nrSampleFileRead(secondRead, half, filePath.c_str());
  FUZZ_CHECK(again == half, "a smaller capacity did not fill completely");
  FUZZ_CHECK(std::equal(secondRead, secondRead + half, firstRead),
             "a second read gave other samples");
  for (uint32_t i = half; i <= kCapacity; i++)
    FUZZ_CHECK(secondRead[i] == kUntouched, "a sample past a smaller capacity was written");
  return 0;
}
