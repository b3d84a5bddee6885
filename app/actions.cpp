#include "app/actions.h"

const NrAction kNrActions[] = {
    {"gNbTx", gNbTx,
     "generate the default slot, transmit it and write nrNbTxData.dat / nrNbTxDataf.dat"},
};
const std::size_t kNrActionN = sizeof(kNrActions) / sizeof(kNrActions[0]);
