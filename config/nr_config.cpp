#include "config/nr_config.h"

NrNbConfig gnrNbConfig;
NrUeConfig gnrUeConfig;
NrCchMwItf gnrCchMwItf;
NrDchMwItf gnrDchMwItf;

int16_t sysRegData[70];
uint16_t comRegData[4];
uint16_t cchRegData[12];
int32_t dchRegData[23];

uint32_t YpTable[3][20];

NrNbTxBuf gnrNbTxBuf;
NrNbTxBuf gnrNbTxBuf1;
int32_t ueFileSample[kSlotSampleCap];
int16_t ueRxSample[2][2][kSlotSampleCap];
int16_t ueLlrBuf[kUeLlrCap];
bool gnrDiagFilesOn = true;
uint16_t cpPatternTbl[15];
int16_t tvSample[2][2][kTvSampleCap];
uint32_t tvSampleN[2][2];
