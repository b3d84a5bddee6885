// Veltra umbrella header: every public entry point of the PHY library.
#pragma once

#include "config/mcs_table.h"
#include "config/nr_config.h"
#include "config/slot_config_gen.h"
#include "phy/coding/crc.h"
#include "phy/coding/dlsch_encode.h"
#include "phy/coding/ldpc_encode.h"
#include "phy/coding/ldpc_params.h"
#include "phy/coding/ldpc_rate_match.h"
#include "phy/coding/ldpc_tables.h"
#include "phy/tx/ofdm_modulate.h"
#include "phy/tx/sample_file.h"
#include "phy/tx/sequence.h"
#include "phy/tx/tbs.h"
