// PDSCH reception of one slot of the file-driven flows: the data interface from the section
// registers, the slot's samples and occupancy map, the front end and the effective code rate.
#pragma once

#include <cstdint>

// Builds the data interface (once), and unless the PDSCH front end has already run since the
// records were cleared (rxDone) prepares the slot (once) and runs the front end over it; then
// sets the effective code rate. Returns the front end's verdict (1 valid soft bits in ueLlrBuf,
// 0 not), the one it gave before when it has run already (valid or not: a slot is received
// once); 0 also when the interface or the slot's samples are refused (reported).
uint8_t nrPhylibUpdateDecDataForSlot(uint16_t slot);
