// PDSCH demodulation reference signal (TS 38.211 7.4.1.1): resource-element pattern by type, CDM
// group and port, symbol positions and the sequence initialiser, shared by the transmitter, the
// channel estimator and the receive front end.
#pragma once

#include <cstdint>

#include "config/nr_config.h"

constexpr int kDmrsMaxPorts = 12;  // capacity of dmrsPortIdx
constexpr uint8_t kDmrsPortListEnd = 0xFF;
constexpr int kDmrsMaxAddPos = 3;  // capacity of dmrsAddPos
constexpr uint16_t kDmrsAllSc = (1u << kScPerRb) - 1;
constexpr int kDmrsPortBase = 1000;  // antenna port of DMRS port index 0

// Number of entries of dmrsPortIdx before the first 0xFF, at most 12. List position j stands for
// port 1000 + j.
int nrDmrsPortCount(const NrPdschCfg* pdsch);

// TS 38.211 Tables 7.4.1.1.2-1 (type 1) and 7.4.1.1.2-2 (type 2): the CDM group lambda of the
// port at list position j (0..11), Delta = lambda (type 1) or 2 lambda (type 2).
int nrDmrsCdmGroup(uint8_t type, int j);

// Subcarriers of an RB (bit k = subcarrier k) occupied by CDM group lambda: type 1 k = 4n +
// {0, 2} + lambda, type 2 k = 6n + {0, 1} + 2 lambda.
uint16_t nrDmrsGroupSc(uint8_t type, int group);

// Frequency cover w_f(1) of DMRS port index j (port 1000 + j), TS 38.211 Tables 7.4.1.1.2-1/-2:
// -1 for the second port of each CDM group pair, else +1 (w_f(0) is always +1).
inline int16_t nrDmrsOcc(int j) { return (j & 1) ? -1 : 1; }

// DMRS port index (port - 1000) of layer v of the entry: dmrsPorts[v] when it names a port (1000
// and up), else v, the layer's list position.
int nrDmrsLayerPort(const NrPdschCfg* pdsch, int v);

// Subcarriers carrying the DMRS of the ports listed in dmrsPortIdx (port 1000 + value): the union
// of their CDM groups. For the lists 0, 1, ..., n-1 of the default slot a port's value is its list
// position.
uint16_t nrDmrsListSc(const NrPdschCfg* pdsch);

// Subcarriers of a DMRS symbol that carry no PDSCH data (TS 38.214 5.1.6.2): the CDM groups
// 0 .. cdmGrpNoData-1 (one group at least, capped at the groups of the type), the groups of the
// listed ports and those of the layers' ports.
uint16_t nrDmrsNoDataSc(const NrPdschCfg* pdsch);

// The subcarriers of a DMRS symbol the receiver reads as the layers' DMRS (dmrsSc) and those that
// carry no data (noDataSc, a superset). Explicit positions (dmrsPosExplicit): dchDmrsRePos, and no
// data beside them once two or more CDM groups are without data. Otherwise the CDM group of layer
// 0's port (the layers of one PDSCH share it) and the groups without data of nrDmrsNoDataSc.
void nrDmrsRxMasks(const NrPdschCfg* pdsch, uint16_t* dmrsSc, uint16_t* noDataSc);

// Sets dmrsPos[k] = 1 for the DMRS subcarriers k of an RB and DMRSSymbolFlag[l] = 1 for the DMRS
// symbols l of the slot; the caller clears both arrays first. The subcarriers are those of CDM
// group 1 when more than two ports are listed, else of group 0 (type 1, or type 2 for any other
// type value). With dmrsPosExplicit the two bitmaps dchDmrsRePos / dchDmrsOsPos are copied (a zero
// bitmap leaves its array alone) and printed. Returns false, with a console line and no symbol flag
// set, when a DMRS symbol lies outside the slot or more than three additional positions are listed.
bool nrGetDmrsPos(uint8_t dmrsPos[kScPerRb], uint8_t DMRSSymbolFlag[kSymbolsPerSlot],
                  const NrPdschCfg* pdsch);

// DMRS c_init of TS 38.211 7.4.1.1.1 for symbol l of slot slotIdx, modulo 2^31.
uint32_t nrPdschDmrsCinit(uint16_t slotIdx, uint32_t l, uint16_t nId, uint16_t nScid);

// r(n) of DMRS symbol l (TS 38.211 7.4.1.1.1) for reN DMRS resource elements of an allocation
// starting at common RB firstRb, scPerRb DMRS REs per RB: the 2 reN bipolar Gold values
// 1 - 2c(2n), 1 - 2c(2n + 1) from position 2 scPerRb firstRb (kept in 16 bits), so that the
// sequence is indexed from common RB 0. Returns them (in gnrSeqBuf), nullptr when the request
// lies beyond the Gold sequence.
const int8_t* nrPdschDmrsSeq(uint16_t slotIdx, uint32_t l, uint16_t nId, uint16_t nScid,
                             uint32_t firstRb, uint32_t scPerRb, uint32_t reN);
