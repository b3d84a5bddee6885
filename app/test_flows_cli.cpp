// Command lines of `veltra nrUeTestMain`, `veltra nrGnbTestMain` and `veltra writeTestVector`.
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/exit_codes.h"
#include "app/test_flows.h"
#include "app/test_vector.h"
#include "config/console.h"

namespace {

const char kUeHelp[] =
    "Receives slots 2 and 4 of a test-vector directory: for each slot it loads the four sample\n"
    "files, reads the section files ending in 1 (slot 2) or 2 (slot 4), updates the UE\n"
    "configuration, detects the PDCCH (blind search of the CORESET, polar-coded DCI), receives\n"
    "the PDSCH and decodes it. Each slot is configured from its own files: slot 4 is received\n"
    "from the \"2\" sections and its own samples.\n"
    "Reads:  DIR/vuetxWavePort1Real.dat, vuetxWavePort1Imag.dat, vuetxWavePort2Real.dat,\n"
    "        vuetxWavePort2Imag.dat (one frame, raw int16 little-endian)\n"
    "        DIR/NRPhy_configuration_com1.txt, _cch1.txt, _dch1.txt (slot 2) and com2, cch2,\n"
    "        dch2 (slot 4); DIR/coresetRBG_Bitmap<n>.txt, pdschRBG_Bitmap<n>.txt and\n"
    "        dchRateMatchConifg<n>.txt where present\n"
    "Writes: in the working directory, DecBuff.txt (the last decoded transport block and its CRC)\n"
    "        and the receiver's debug files (debugRe0.txt, debugIm0.txt, debugRe.txt, "
    "debugIm.txt,\n"
    "        debugdchEQRe.txt, debugdchEQIm.txt, dchSoftbit.txt)\n"
    "Prints: per slot the progress lines of the steps, \"Detected DCI [crc Passed!]...\" with the\n"
    "        payload bits of every DCI found (or \"Does not Detected and DCI!!!\"), one \"dec CRC "
    "OK\"\n"
    "        or \"dec CRC failed\" per code block, then \"the PDSCH decode  finished\", or \"the\n"
    "        PDSCH decode: invalid data, cannot do dec \" when the slot gives no valid data;\n"
    "        \"Fail to open file: NAME!\" for every file that cannot be read.\n"
    "Exit codes: 0 both slots decoded (and their DCI was found where the dch section announces a\n"
    "PDCCH); 1 a slot did not (a file missing or short, a configuration refused, invalid data, a\n"
    "CRC failure, no DCI); 2 usage.";

const char kGnbHelp[] =
    "Checks the configuration of slot 0 of a test-vector directory: runs the default slot\n"
    "generator, reads the section files ending in 1, updates the configuration, prints the\n"
    "PDSCH's DMRS positions where the files name them and computes its TBS. When standard input\n"
    "is a terminal it then waits for one key press.\n"
    "Reads:  DIR/NRPhy_configuration_com1.txt, _cch1.txt, _dch1.txt, and the bitmap and\n"
    "        rate-matching files of section 1 where present\n"
    "Writes: nothing.\n"
    "Prints: \"===>>gNB test Main  \", the readers' and the update's progress lines, \"Fail to\n"
    "        open file: NAME!\" for every file that cannot be read.\n"
    "Exit codes: 0 the slot was configured; 1 a section was missing or refused; 2 usage.";

const char kWriterHelp[] =
    "Writes a test-vector directory from the bench's transmitter: one frame (10 slots of 30720\n"
    "samples, N = 2048) on two receive antennas. Slot 2 carries a UE-specific DCI on an\n"
    "interleaved one-symbol CORESET and a 64QAM PDSCH; slot 4 a cell-scrambled DCI on a\n"
    "non-interleaved two-symbol CORESET and a 16QAM PDSCH on RB groups. The other slots are\n"
    "silent. Antenna 1 receives the samples as sent; antenna 2 the same, or through\n"
    "--port-gain / --two-tap.\n"
    "Writes: DIR (made when missing)/vuetxWavePort1Real.dat, vuetxWavePort1Imag.dat,\n"
    "        vuetxWavePort2Real.dat, vuetxWavePort2Imag.dat; NRPhy_configuration.txt (slot 2);\n"
    "        NRPhy_configuration_com1.txt, _cch1, _dch1 (slot 2), _com2, _cch2, _dch2 (slot 4);\n"
    "        pdschRBG_Bitmap2.txt. Bitmap and rate-matching files of digits 1 and 2 it does not\n"
    "        write are removed. EncCrcBuff.txt in the working directory: slot 4's transport\n"
    "        block and its CRC (compare with DecBuff.txt after nrUeTestMain).\n"
    "Prints: per slot the DCI payload and the PDSCH sent.\n"
    "Exit codes: 0 written; 1 a slot could not be sent or a file not written; 2 usage.";

int usage(const char* cmd, const std::string& what) {
  std::fprintf(stderr, "veltra %s: %s\n", cmd, what.c_str());
  return kExitUsage;
}

// Parses the command line of a test main: an optional directory.
int parseMain(const char* cmd, const char* help, const char* defaultDir, int argc, char** argv,
              std::string* dir) {
  CLI::App app{help, std::string("veltra ") + cmd};
  app.add_option("DIR", *dir, std::string("test-vector directory (default: ") + defaultDir + ")");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success) ? kExitOk : kExitUsage;
  }
  return -1;
}

// "D:A": a whole delay and a gain.
bool parseTwoTap(const std::string& s, NrTvChannelCfg* ch) {
  const std::size_t colon = s.find(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == s.size()) return false;
  const std::string d = s.substr(0, colon), a = s.substr(colon + 1);
  char* end = nullptr;
  errno = 0;
  const unsigned long delay = std::strtoul(d.c_str(), &end, 10);
  if (*end != '\0' || errno != 0 || d[0] == '-' || d[0] == '+') return false;
  const double gain = std::strtod(a.c_str(), &end);
  if (*end != '\0' || !std::isfinite(gain)) return false;
  ch->kind = NrTvChannel::kTwoTap;
  ch->delay = delay > kTvMaxTapDelay + 1ul ? kTvMaxTapDelay + 1 : static_cast<uint32_t>(delay);
  ch->tapGain = gain;
  return true;
}

std::string bitString(const uint8_t* bits, int n) {
  std::string s;
  for (int i = 0; i < n; i++) s += static_cast<char>('0' + bits[i]);
  return s;
}

}  // namespace

int nrTestMainCommand(int argc, char** argv) {
  const bool ue = std::string(argv[0]) == "nrUeTestMain";
  const char* cmd = ue ? "nrUeTestMain" : "nrGnbTestMain";
  std::string dir;
  const int code = parseMain(cmd, ue ? kUeHelp : kGnbHelp,
                             ue ? kUeTestDefaultDir : kGnbTestDefaultDir, argc, argv, &dir);
  if (code >= 0) return code;
  const char* d = dir.empty() ? nullptr : dir.c_str();
  bool ok = false;
  if (ue) {
    NrUeTestReport report;
    nrUeTestMain(d, &report);
    ok = report.allOk;
  } else {
    nrGnbTestMain(d, &ok);
  }
  nrConsoleFlush();
  if (!ok) std::fprintf(stderr, "veltra: %s failed\n", cmd);
  return ok ? kExitOk : kExitFailed;
}

int nrWriteTestVectorCommand(int argc, char** argv) {
  CLI::App app{kWriterHelp, "veltra writeTestVector"};
  std::string dir, twoTap;
  double gain = 1.0;
  app.add_option("DIR", dir, "test-vector directory to write")->required();
  CLI::Option* gainOpt = app.add_option(
      "--port-gain", gain, "antenna 2 receives the samples scaled by G (0 .. 8; saturating)");
  CLI::Option* tapOpt = app.add_option(
      "--two-tap", twoTap,
      "D:A: antenna 2 receives the samples plus a copy delayed by D samples (1 .. 144) and "
      "scaled by A (-1 .. 1), e.g. 8:0.5");
  gainOpt->excludes(tapOpt);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success) ? kExitOk : kExitUsage;
  }
  NrTvChannelCfg ch;
  if (gainOpt->count() > 0) {
    ch.kind = NrTvChannel::kPortGain;
    ch.gain = gain;
  }
  if (tapOpt->count() > 0 && !parseTwoTap(twoTap, &ch))
    return usage("writeTestVector", "--two-tap " + twoTap + ": expected D:A, e.g. 8:0.5");
  if (const char* why = nrTvChannelCheck(&ch)) return usage("writeTestVector", why);

  NrTvWriteReport report;
  const bool ok = nrWriteTestVector(dir.c_str(), &ch, &report);
  nrConsoleFlush();
  for (const NrTvSlotSent& s : report.slot) {
    if (s.tbSize == 0) continue;
    std::printf(
        "slot %u: DCI of %u bits for RNTI %u at aggregation level %u: %s\n"
        "slot %u: PDSCH of %u RBs, MCS %u (Qm %u), TBS %u bits\n",
        s.slot, s.payloadSize, s.rnti, s.aggrL, bitString(s.dci, s.payloadSize).c_str(), s.slot,
        s.pdschRbN, s.mcs, s.qm, s.tbSize);
  }
  if (!ok) {
    std::fprintf(stderr, "veltra writeTestVector: %s not written completely\n", dir.c_str());
    return kExitFailed;
  }
  std::printf("veltra writeTestVector: wrote %s\n", dir.c_str());
  return kExitOk;
}
