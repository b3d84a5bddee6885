#include "phy/coding/ldpc_tables.h"

#include "phy/coding/ldpc_base_graphs.inc"
