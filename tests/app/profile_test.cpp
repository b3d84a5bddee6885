// The per-stage profile of the transmit and receive chains (`veltra --profile`) and the switch
// that keeps the encoder's and the decoding chain's diagnostic files out of a library-path run.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "app/actions.h"
#include "config/nr_config.h"
#include "phy/coding/dlsch_decode.h"
#include "phy/common/stage_profile.h"
#include "tests/app/run_veltra.h"
#include "tests/test_util.h"

namespace {

constexpr int kStageN = static_cast<int>(NrStage::kStageCount);

// The stages a transmitted and received slot passes through (the UE set-up included).
const NrStage kChainStages[] = {
    NrStage::kGeneration, NrStage::kEncoding,     NrStage::kMapping,   NrStage::kOfdm,
    NrStage::kFileIo,     NrStage::kUeSetUp,      NrStage::kFft,       NrStage::kExtraction,
    NrStage::kEstimation, NrStage::kEqualisation, NrStage::kDemapping, NrStage::kDeRateMatching,
    NrStage::kDecoding};

bool has(const std::string& text, const std::string& what) {
  return text.find(what) != std::string::npos;
}

}  // namespace

// Time spent in a nested scope is charged to the nested stage alone, and scopes entered while
// profiling is off count nothing.
TEST(Profile, NestedStagesAreChargedOnlyToThemselves) {
  using std::chrono::milliseconds;
  {
    NrStageScope off(NrStage::kMapping);
    std::this_thread::sleep_for(milliseconds(2));
  }
  nrProfileEnable(true);
  {
    NrStageScope outer(NrStage::kEncoding);
    {
      NrStageScope inner(NrStage::kDecoding);
      std::this_thread::sleep_for(milliseconds(30));
    }
    NrStageScope inner2(NrStage::kDecoding);
  }
  nrProfileEnable(false);
  { NrStageScope afterwards(NrStage::kEncoding); }
  const NrStageTime* t = nrProfileStages();
  const NrStageTime& enc = t[static_cast<int>(NrStage::kEncoding)];
  const NrStageTime& dec = t[static_cast<int>(NrStage::kDecoding)];
  EXPECT_EQ(enc.calls, 1u);
  EXPECT_EQ(dec.calls, 2u);
  EXPECT_GE(dec.ns, 30'000'000u);
  EXPECT_LT(enc.ns, 15'000'000u) << "the nested sleep was charged to the outer stage";
  EXPECT_EQ(t[static_cast<int>(NrStage::kMapping)].calls, 0u);

  // Enabling again starts from zero.
  nrProfileEnable(true);
  for (int i = 0; i < kStageN; i++) EXPECT_EQ(nrProfileStages()[i].calls, 0u) << i;
  nrProfileEnable(false);
}

// The full-carrier slot passes every stage of the chain; decoding counts one call per code block.
// The table names every stage and the totals.
TEST(Profile, FullCarrierSlotTimesEveryStageAndEachCodeBlock) {
  ScopedTempDir dir;
  fullCarrierSlot();
  nrProfileEnable(true);
  bool ok = false;
  captureStdout([&] { ok = gNbTx() && nrUeRx(); });
  ASSERT_TRUE(ok);
  const std::string table = captureDiag([] { nrProfilePrint(); });
  nrProfileEnable(false);

  const NrStageTime* t = nrProfileStages();
  for (NrStage s : kChainStages) {
    EXPECT_GT(t[static_cast<int>(s)].calls, 0u) << nrStageName(s);
    EXPECT_GT(t[static_cast<int>(s)].ns, 0u) << nrStageName(s);
    EXPECT_TRUE(has(table, std::string(nrStageName(s)) + " ")) << nrStageName(s) << "\n" << table;
  }
  const NrDlschDecReport* rep = nrDlschDecLastReport();
  ASSERT_GT(rep->cbN, 1);
  EXPECT_EQ(t[static_cast<int>(NrStage::kDecoding)].calls, static_cast<uint32_t>(rep->cbN));
  EXPECT_EQ(t[static_cast<int>(NrStage::kDeRateMatching)].calls, 1u);
  for (const char* line :
       {"stage", "per code block", "outside the stages", "total (wall)", "total (CPU)"})
    EXPECT_TRUE(has(table, line)) << line << "\n" << table;
}

// With the diagnostic files off, encoding and decoding write no "EncCrcBuff.txt" and no
// "DecBuff.txt" and the slot still decodes.
TEST(Profile, LibraryPathWithoutDiagnosticFilesWritesNone) {
  ScopedTempDir dir;
  gnrDiagFilesOn = false;
  std::string out;
  out = captureStdout([] { gNbTx() && nrUeRx(); });
  gnrDiagFilesOn = true;
  EXPECT_TRUE(has(out, "dec CRC OK")) << out;
  EXPECT_NE(access("EncCrcBuff.txt", F_OK), 0);
  EXPECT_NE(access("DecBuff.txt", F_OK), 0);
  EXPECT_EQ(access("nrNbTxData.dat", F_OK), 0) << "the waveform is not a diagnostic file";
}

// --profile adds the table on standard error and changes nothing else: standard output and every
// file are those of the run without it; a failing action still gets its table.
TEST(Cli, ProfilePrintsTheStageTableAndChangesNothingElse) {
  ScopedTempDir plainDir, profiledDir;
  const ProgramRun plain = runVeltra({"gNbTx", "nrUeRx"}, plainDir.path());
  const ProgramRun profiled = runVeltra({"--profile", "gNbTx", "nrUeRx"}, profiledDir.path());
  ASSERT_EQ(plain.code, 0) << plain.err;
  ASSERT_EQ(profiled.code, 0) << profiled.err;
  EXPECT_EQ(profiled.out, plain.out);
  EXPECT_FALSE(has(plain.err, "total (wall)")) << plain.err;
  for (NrStage s : kChainStages)
    EXPECT_TRUE(has(profiled.err, std::string(nrStageName(s)) + " ")) << nrStageName(s) << "\n"
                                                                      << profiled.err;
  for (const char* f : {"nrNbTxData.dat", "nrNbTxDataf.dat", "EncCrcBuff.txt", "DecBuff.txt",
                        "dchSoftbit.txt", "debugRe.txt", "nrSlotCfg.yaml"}) {
    const std::string a = readWholeFile(plainDir.path() + "/" + f);
    EXPECT_FALSE(a.empty()) << f;
    EXPECT_EQ(readWholeFile(profiledDir.path() + "/" + f), a) << f;
  }

  ScopedTempDir failDir;
  const ProgramRun failed = runVeltra({"--profile", "nrUeRx"}, failDir.path());
  EXPECT_EQ(failed.code, 1);
  EXPECT_TRUE(has(failed.err, "total (wall)") && has(failed.err, "veltra: nrUeRx failed"))
      << failed.err;
}
