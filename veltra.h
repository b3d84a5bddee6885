// Veltra umbrella header: every public entry point of the PHY library.
#pragma once

#include "config/mcs_table.h"
#include "config/nr_config.h"
#include "config/slot_config_gen.h"
#include "phy/coding/crc.h"
#include "phy/tx/ofdm_modulate.h"
#include "phy/tx/sample_file.h"
#include "phy/tx/sequence.h"
#include "phy/tx/tbs.h"
