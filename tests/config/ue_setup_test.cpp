#include "config/ue_setup.h"

#include <gtest/gtest.h>

#include <cstring>

#include "config/nr_config.h"
#include "config/slot_config_gen.h"
#include "tests/test_util.h"

namespace {

// The occupancy map followed by a guard band that no write may reach.
struct GuardedMap {
  int32_t map[kSymbolsPerSlot][kMaxRb];
  int32_t guard[64];
};

bool guardIntact(const GuardedMap& m) {
  for (int32_t g : m.guard)
    if (g != 0x5A5A5A5A) return false;
  return true;
}

GuardedMap freshMap() {
  GuardedMap m;
  std::memset(&m, 0x5A, sizeof(m));
  return m;
}

// The CORESET and PDSCH of the default slot.
void defaultRegion(NrSearchSpaceCfg& ss, NrCoresetCfg cs[3], NrPdschCfg& pdsch) {
  std::memset(&ss, 0, sizeof(ss));
  std::memset(cs, 0, 3 * sizeof(NrCoresetCfg));
  std::memset(&pdsch, 0, sizeof(pdsch));
  ss.monSymBitmap = 1 << 8;
  cs[0].duration = 3;
  cs[0].allocNrb = 72;
  for (int i = 0; i < 72; i++) cs[0].rbIdx[i] = static_cast<uint16_t>(5 + i);
  pdsch.symBitmap = 0x1F00;
  pdsch.rbN = 12;
  for (int i = 0; i < 12; i++) pdsch.rbIdx[i] = static_cast<uint16_t>(61 + i);
}

}  // namespace

// The default slot's search space names CORESET id 6, beyond the three entries: no control
// region, so the whole PDSCH (symbols 8..12, RBs 61..72) is marked 2 and nothing else.
TEST(UeSetup, DefaultSlotMarksOnlyThePdsch) {
  nrGenDefaultSlotCfg();
  ASSERT_EQ(gnrNbConfig.searchSpaceCfg[0].coresetId, 6);
  captureStdout([] { nrUeSetupFromNb(ueFileSample, 0); });
  for (int l = 0; l < kSymbolsPerSlot; l++)
    for (int rb = 0; rb < kMaxRb; rb++) {
      const bool pdsch = l >= 8 && l <= 12 && rb >= 61 && rb <= 72;
      ASSERT_EQ(gnrDchMwItf.cellCfg.rbMap[l][rb], pdsch ? kRbPdsch : kRbFree) << l << "," << rb;
    }
}

// CORESET 0 over symbols 8..10 and RBs 5..76 keeps its 1 where the PDSCH overlaps it.
TEST(UeSetup, ControlRegionOfCoresetZeroIsNotOverwritten) {
  NrSearchSpaceCfg ss;
  NrCoresetCfg cs[3];
  NrPdschCfg pdsch;
  defaultRegion(ss, cs, pdsch);
  GuardedMap m = freshMap();
  nrGenRbMap(m.map, 7, 1, &ss, cs, &pdsch);
  for (int l = 0; l < kSymbolsPerSlot; l++)
    for (int rb = 0; rb < kMaxRb; rb++) {
      int want = kRbFree;
      if (l >= 8 && l <= 10 && rb >= 5 && rb <= 76)
        want = kRbControl;
      else if (l >= 11 && l <= 12 && rb >= 61 && rb <= 72)
        want = kRbPdsch;
      ASSERT_EQ(m.map[l][rb], want) << l << "," << rb;
    }
  // Without the control flag the PDSCH takes every one of its REs.
  nrGenRbMap(m.map, 7, 0, &ss, cs, &pdsch);
  EXPECT_EQ(m.map[8][61], kRbPdsch);
  EXPECT_EQ(m.map[8][5], kRbFree);
  EXPECT_TRUE(guardIntact(m));
}

// CORESETs running past symbol 13, RB indices of 280 or more and counts beyond the RB capacity
// are cut at the map's edges.
TEST(UeSetup, RbMapIgnoresEntriesOutsideTheMap) {
  NrSearchSpaceCfg ss;
  NrCoresetCfg cs[3];
  NrPdschCfg pdsch;
  defaultRegion(ss, cs, pdsch);
  ss.coresetId = 2;
  ss.monSymBitmap = (1 << 13) | (1 << 15);
  cs[2].duration = 3;
  cs[2].allocNrb = 400;
  for (int i = 0; i < kMaxRb; i++) cs[2].rbIdx[i] = static_cast<uint16_t>(i * 3);
  pdsch.symBitmap = 0xFFFF;
  pdsch.rbN = 1000;
  for (int i = 0; i < kMaxRb; i++) pdsch.rbIdx[i] = static_cast<uint16_t>(i + 200);
  GuardedMap m = freshMap();
  nrGenRbMap(m.map, 0, 1, &ss, cs, &pdsch);
  EXPECT_TRUE(guardIntact(m));
  EXPECT_EQ(m.map[13][0], kRbControl);
  EXPECT_EQ(m.map[13][278], kRbPdsch);  // 278 is not a multiple of 3
  EXPECT_EQ(m.map[12][200], kRbPdsch);
  EXPECT_EQ(m.map[12][199], kRbFree);
}

// The control interface is built once (with its two console lines) and keeps its first content;
// the data interface is refreshed on every set-up.
TEST(UeSetup, ControlInterfaceIsOneShotDataInterfaceIsRefreshed) {
  nrGenDefaultSlotCfg();
  gnrNbConfig.pdschCfg[0].tbSize = 2976;
  const std::string first = captureStdout([] { nrUeSetupFromNb(ueFileSample, 0); });
  EXPECT_EQ(first,
            "===>>>> nrUeInitCchmwItfFromNb() started ===\n"
            "=== nrUeInitCchmwItfFromNb() exited ===>>>>\n");
  EXPECT_EQ(gnrCchMwItf.cchItfDone, 1);
  EXPECT_EQ(gnrCchMwItf.dciN, 1);
  EXPECT_EQ(gnrCchMwItf.slotIdx, 7);
  EXPECT_EQ(gnrCchMwItf.cellCfg.rnti, 28764);
  EXPECT_EQ(gnrCchMwItf.cellCfg.nId, 829);
  EXPECT_EQ(gnrNbConfig.cellCfg.nId, 0);  // the source keeps its own identity
  EXPECT_EQ(gnrCchMwItf.aggrL[0], 4);
  EXPECT_EQ(gnrCchMwItf.cceStart[0], 4);
  EXPECT_EQ(gnrCchMwItf.payloadSize[0], 39);
  EXPECT_EQ(gnrCchMwItf.ueSpecific[0], 1);
  EXPECT_EQ(gnrCchMwItf.searchSpaceCfg[0].startSymbol, 8);
  EXPECT_EQ(gnrDchMwItf.rnti, 28764);
  EXPECT_EQ(gnrDchMwItf.tbSize, 2976u);
  EXPECT_EQ(gnrDchMwItf.pdcchPresent, 1);
  EXPECT_EQ(gnrDchMwItf.dchItfDone, 1);
  EXPECT_EQ(gnrDchMwItf.pdschCfg.rbN, 12);
  EXPECT_EQ(gnrUeConfig.carrierCfg.nrb, 106);
  EXPECT_EQ(gnrUeConfig.bwpCfg.nrb, 96);
  EXPECT_EQ(gnrUeConfig.coresetCfg[0].allocNrb, 72);

  gnrNbConfig.slotIdx = 3;
  gnrNbConfig.pdschCfg[0].tbSize = 1234;
  const std::string second = captureStdout([] { nrUeSetupFromNb(ueFileSample, 0); });
  EXPECT_EQ(second, "");
  EXPECT_EQ(gnrCchMwItf.slotIdx, 7);
  EXPECT_EQ(gnrDchMwItf.tbSize, 1234u);
}

// Samples are split into the real and imaginary arrays of the chosen port, 15 x N of them.
TEST(UeSetup, CopiesTheSlotsSamplesIntoThePort) {
  nrGenDefaultSlotCfg();
  for (int i = 0; i < kSlotSampleCap; i++) ueFileSample[i] = nrCpxPack(i % 1000 - 500, -(i % 777));
  captureStdout([] { nrUeSetupFromNb(ueFileSample, 1); });
  for (int i = 0; i < kSlotSampleCap; i++) {
    ASSERT_EQ(ueRxSample[1][0][i], i % 1000 - 500) << i;
    ASSERT_EQ(ueRxSample[1][1][i], -(i % 777)) << i;
    ASSERT_EQ(ueRxSample[0][0][i], 0) << i;
  }
  const std::string out = captureDiag([] { nrUeSetupFromNb(ueFileSample, 2); });
  EXPECT_NE(out.find("antenna port 2 not supported"), std::string::npos) << out;
}

// An FFT size beyond the buffers copies no more than one slot of 30720 samples.
TEST(UeSetup, OversizedFftCopiesAtMostTheBuffer) {
  nrGenDefaultSlotCfg();
  gnrNbConfig.cellCfg.fftSize = 4096;
  for (int i = 0; i < kSlotSampleCap; i++) ueFileSample[i] = nrCpxPack(1, 2);
  captureStdout([] { nrUeSetupFromNb(ueFileSample, 1); });
  EXPECT_EQ(ueRxSample[1][0][kSlotSampleCap - 1], 1);
}
