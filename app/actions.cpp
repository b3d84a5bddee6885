#include "app/actions.h"

const NrAction kNrActions[] = {
    {"gNbTx", gNbTx,
     "generate the default slot, transmit it and write nrNbTxData.dat / nrNbTxDataf.dat"},
    {"nrUeRx", nrUeRx,
     "read nrNbTxData.dat, receive and decode the PDSCH with the transmitter's configuration"},
};
const std::size_t kNrActionN = sizeof(kNrActions) / sizeof(kNrActions[0]);
