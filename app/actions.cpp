#include "app/actions.h"

#include <cstring>

const NrAction kNrActions[] = {
    {"gNbTx", gNbTx,
     "generate the default slot, transmit it and write nrNbTxData.dat / nrNbTxDataf.dat",
     "Generates the default slot configuration (once per process: the same slot in every run),\n"
     "encodes a PN9 transport block, maps the PDSCH and its DMRS onto the grid and OFDM-modulates\n"
     "the slot.\n"
     "Reads:  nothing.\n"
     "Writes: nrNbTxData.dat   the waveform, one \"I,Q\" line per int16 sample (15 x N lines)\n"
     "        nrNbTxDataf.dat  the same waveform unrounded, raw little-endian float32 I,Q pairs\n"
     "        nrNbTxData1.dat, nrNbTxDataf1.dat  antenna port 1 of a two-layer slot\n"
     "        EncCrcBuff.txt   the transport block and its CRC, one bit per line\n"
     "        nrSlotCfg.yaml   the slot it sent (read it back with --slot)\n"
     "Prints: nothing when all goes well; \"Fail to open file: NAME!\" and a line on standard\n"
     "        error naming the file and the reason when an output cannot be written.\n"
     "Fails when a PDSCH entry cannot be sent, the slot cannot be modulated or a file cannot be\n"
     "written.\n"},
    {"nrUeRx", nrUeRx,
     "read nrNbTxData.dat, receive and decode the PDSCH with the transmitter's configuration",
     "Reads the waveform, sets the UE up from the transmitter's configuration of this process\n"
     "(so it follows gNbTx on the same command line, or --slot states the slot), demodulates,\n"
     "estimates and equalises the channel, demaps soft bits and decodes every code block.\n"
     "Reads:  nrNbTxData.dat (a regular file; samples it does not hold read as zero), and\n"
     "        nrNbTxData1.dat for the second receive antenna of a two-antenna slot\n"
     "Writes: DecBuff.txt      the decoded transport block and its CRC, only when every code\n"
     "                         block checks (an older one is removed otherwise)\n"
     "        debugRe0.txt, debugIm0.txt, debugRe.txt, debugIm.txt, debugdchEQRe.txt,\n"
     "        debugdchEQIm.txt, dchSoftbit.txt  received REs, equalised REs, soft bits\n"
     "Prints: \"===>Enter Dec module! codeword: [r] dec CRC OK\" (or \"dec CRC failed\") per code\n"
     "        block, then \"the PDSCH decode  finished\"; or \"the PDSCH decode: invalid data,\n"
     "        cannot do dec \" when the slot holds no valid data.\n"
     "Fails on unreadable input, invalid data, any code block's CRC failure or a file that\n"
     "cannot be written.\n"},
};
const std::size_t kNrActionN = sizeof(kNrActions) / sizeof(kNrActions[0]);

const NrAction* nrFindAction(const char* name) {
  for (std::size_t i = 0; i < kNrActionN; i++)
    if (std::strcmp(kNrActions[i].name, name) == 0) return &kNrActions[i];
  return nullptr;
}
