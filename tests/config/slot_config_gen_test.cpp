#include "config/slot_config_gen.h"

#include <gtest/gtest.h>

#include <cstring>

#include "config/nr_config.h"

TEST(SlotConfigGen, FirstConfigurationOfAProcessIsTheSeededSlot) {
  ASSERT_EQ(gnrNbConfig.cfgDone, 0);
  nrGenDefaultSlotCfg();
  const NrNbConfig& c = gnrNbConfig;
  EXPECT_EQ(c.cfgDone, 1);
  EXPECT_EQ(c.sfn, 719);
  EXPECT_EQ(c.slotIdx, 7);
  EXPECT_EQ(c.carrierCfg.nrb, 106);
  EXPECT_EQ(c.carrierCfg.scs, 15);
  EXPECT_EQ(c.carrierCfg.zeroScUsed, 1);
  EXPECT_EQ(c.carrierCfg.txPowGain, 1024);
  EXPECT_EQ(c.bwpCfg.rbOffset, 1);
  EXPECT_EQ(c.bwpCfg.nrb, 96);
  EXPECT_EQ(c.cellCfg.pci, 829);
  EXPECT_EQ(c.cellCfg.nId, 0);
  EXPECT_EQ(c.cellCfg.antPortN, 1);
  EXPECT_EQ(c.cellCfg.fftSize, 2048);
  EXPECT_EQ(c.cellCfg.fftLen, 2048);
  const uint16_t cp[14] = {160, 144, 144, 144, 144, 144, 144, 160, 144, 144, 144, 144, 144, 144};
  for (int k = 0; k < 14; k++) EXPECT_EQ(c.cellCfg.cpLen[k], cp[k]) << "symbol " << k;
  EXPECT_EQ(c.ssbCfg.start_Subcarrier, 84);
  EXPECT_EQ(c.ssbCfg.start_symbol, 3);
  EXPECT_EQ(c.rntiN, 1);
  EXPECT_EQ(c.rntiList[0], 28764u);

  ASSERT_EQ(c.coresetN, 1);
  const NrCoresetCfg& cs = c.coresetCfg[0];
  EXPECT_EQ(cs.coresetId, 6);
  EXPECT_EQ(cs.duration, 3);
  EXPECT_EQ(cs.allocNrb, 72);
  EXPECT_EQ(cs.cceN, 12);
  for (int l = 0; l < 72; l++) EXPECT_EQ(cs.rbIdx[l], 5 + l);
  EXPECT_EQ(cs.rbIdx[72], 0);
  EXPECT_EQ(cs.Lreg, 3);
  EXPECT_EQ(cs.intvR, 6);
  EXPECT_EQ(cs.Nshift, 0);
  EXPECT_EQ(cs.intvC, 12);
  EXPECT_EQ(cs.regBundleN, 72);
  EXPECT_EQ(cs.regBundleRbN, 1);
  EXPECT_EQ(cs.CchIntvEn, 1);
  // TS 38.211 7.3.2.2 with C = 12, R = 6: f(6c + r) = (12r + c) mod 72.
  for (int col = 0; col < 12; col++)
    for (int r = 0; r < 6; r++)
      EXPECT_EQ(cs.regBundleMap[col * 6 + r], (12 * r + col) % 72) << "c " << col << " r " << r;

  const NrSearchSpaceCfg& ss = c.searchSpaceCfg[0];
  EXPECT_EQ(ss.coresetId, 6);
  EXPECT_EQ(ss.startSymbol, 8);
  EXPECT_EQ(ss.monSymBitmap, 0x100);
  EXPECT_EQ(ss.monSlot, 7);

  const NrPdcchCfg& p = c.pdcchCfg[0];
  EXPECT_EQ(p.aggrL, 4);
  EXPECT_EQ(YpTable[6 % 3][7], 41166u);
  EXPECT_EQ(p.cceStart, 4);
  EXPECT_EQ(p.dciAux, 1u);
  EXPECT_EQ(p.payloadSize, 39);
  EXPECT_EQ(p.ueSpecific, 1);
  EXPECT_EQ(p.rnti, 28764u);
  EXPECT_EQ(p.coresetId, 6);

  const NrPdschCfg& d = c.pdschCfg[0];
  EXPECT_EQ(d.symBitmap, 0x1F00);
  EXPECT_EQ(d.rbStart, 61);
  EXPECT_EQ(d.rbN, 12);
  for (int k = 0; k < 12; k++) EXPECT_EQ(d.rbIdx[k], 61 + k);
  EXPECT_EQ(d.mcs, 19);
  EXPECT_EQ(d.Qm, 6u);
  EXPECT_EQ(d.codeRate, 1746);
  EXPECT_EQ(d.rvIdx, 3);
  EXPECT_EQ(d.layerN, 1);
  EXPECT_EQ(d.rnti, 28764u);
  EXPECT_EQ(d.bwpRbOffset, 1);
  EXPECT_EQ(d.cdmGrpNoData, 1);
  EXPECT_EQ(d.dmrsScrId0, 2);
  EXPECT_EQ(d.dmrsScrId1, 2);  // n_SCID of the DMRS c_init
  EXPECT_EQ(d.dmrsType, 1);
  EXPECT_EQ(d.dmrsFirstSym, 9);
  EXPECT_EQ(d.dmrsEn, 1);
  EXPECT_EQ(d.dmrsAddPosN, 1);
  EXPECT_EQ(d.dmrsAddPos[0], 10);
  EXPECT_EQ(d.dmrsPortIdx[0], 0);
  EXPECT_EQ(d.dmrsPortIdx[1], 1);
  EXPECT_EQ(d.dmrsPortIdx[2], 0xFF);
  EXPECT_EQ(d.dmrsPorts[0], 1000);
  EXPECT_EQ(d.dmrsPorts[1], 1001);

  // Forty draws in all, the discarded ones included: the generator leaves the sequence there.
  const uint32_t afterFill = nrRandDraw();
  nrRandSeed(kSlotCfgSeed);
  for (int i = 0; i < 40; i++) nrRandDraw();
  EXPECT_EQ(afterFill, nrRandDraw());
}

TEST(SlotConfigGen, SecondCallChangesNothingButResetsTheRandomState) {
  nrGenDefaultSlotCfg();
  static NrNbConfig first;
  std::memcpy(&first, &gnrNbConfig, sizeof(first));
  for (int i = 0; i < 7; i++) nrRandDraw();  // disturb the sequence
  nrGenDefaultSlotCfg();
  EXPECT_EQ(std::memcmp(&first, &gnrNbConfig, sizeof(first)), 0);
  const uint32_t afterSecondCall = nrRandDraw();
  nrRandSeed(kSlotCfgSeed);
  EXPECT_EQ(afterSecondCall, nrRandDraw());

  nrGenDefaultSlotCfgIfNeeded(&gnrNbConfig);  // cfgDone 1: nothing to do
  EXPECT_EQ(std::memcmp(&first, &gnrNbConfig, sizeof(first)), 0);
}

TEST(SlotConfigGen, LogarithmsOfSmallAndPowerOfTwoValues) {
  struct Case {
    uint32_t x, ceil, floor;
  } cases[] = {{0, 0, 0}, {1, 0, 0},      {2, 1, 1},      {3, 2, 1},      {4, 2, 2},
               {5, 3, 2}, {1496, 11, 10}, {2048, 11, 11}, {2049, 12, 11}, {0x80000000u, 31, 31}};
  for (const Case& c : cases) {
    EXPECT_EQ(nrCeilLog2(c.x), c.ceil) << c.x;
    EXPECT_EQ(nrFloorLog2(c.x), c.floor) << c.x;
  }
}
