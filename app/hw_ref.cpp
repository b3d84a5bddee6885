#include "app/actions.h"
#include "config/console.h"
#include "hwmodel/hw_driver.h"
#include "hwmodel/hw_params.h"

const NrCommandHelp kNrHwRefHelp = {
    "hwRef", "hwRef --mcs M --layers L --re-per-prb N --prb P",
    "run the encoder hardware model on a PN9 transport block and write its reference files",
    "Sizes a transport block from the MCS (index table 2, 0..31), layers (1..4), data REs per\n"
    "PRB (1..168) and PRBs (1..275), draws it from the PN9 generator and runs codeword 0 code\n"
    "block by code block through the register-level models of the CRC engine, the LDPC encoder\n"
    "and the rate matcher (redundancy version 0).\n"
    "Reads:  nothing.\n"
    "Writes (in the working directory; the first code block replaces a file, later ones append):\n"
    "        ldpc_infobits.txt  payload bits of each code block, one \"%d \\n\" line per bit (the\n"
    "                           last block of a segmented transport block without the 24 bits\n"
    "                           of the transport-block CRC)\n"
    "        res_hw_cbEnc.txt   the encoder output cell of each code block: the header lines\n"
    "                           \"1 %08x \\n\" .. \"4 %08x \\n\" (0, eRow, code block, codeword of "
    "the\n"
    "                           block before; all 0 for the first), the punctured codeword as\n"
    "                           bank rows, one \"%d\\n\" line per bit, and the end line\n"
    "                           \"f ffffffff \\n\" followed by a blank line\n"
    "        res_hw_fifo_i.txt  the selected bits e_0 .. e_(E-1) of each code block (TS 38.212\n"
    "                           5.4.2.1, before bit interleaving), one \"%d \\n\" line per bit\n"
    "        lpdc_encRMout.txt  the rate-matched, interleaved output of each code block in\n"
    "                           transmission order, one \"%d\\n\" line per bit; over all blocks "
    "the\n"
    "                           codeword's coded bits\n"
    "Prints: \"TBS is N\" with the transport block size.\n"
    "Fails when the model refuses the request (more than 255 code blocks, coded bits beyond its\n"
    "FIFOs or register fields) or a file cannot be written.\n"};

bool hwRef(int32_t mcsIndex, int32_t numLayers, int32_t nRePerPrb, int32_t nPrb) {
  // A request the model refuses is reported once, before any file is touched.
  NrHwCwParams rec;
  if (nrHwLdpcParamCalc(mcsIndex, numLayers, nRePerPrb, nPrb, 0, &rec) == 0) return false;
  const bool ok = nrHwPdschRefRun(mcsIndex, numLayers, nRePerPrb, nPrb);
  nrPrintf("\n");  // the run's "TBS is N" has no line end of its own
  return ok;
}
