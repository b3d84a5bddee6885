// Integer logarithms of the configuration and sizing procedures.
#pragma once

#include <bit>
#include <cstdint>

// Index of the highest set bit (0 for x <= 1).
constexpr uint32_t nrFloorLog2(uint64_t x) {
  return x == 0 ? 0u : static_cast<uint32_t>(std::bit_width(x)) - 1u;
}

// Smallest n with 2^n >= x (0 for x <= 1).
constexpr uint32_t nrCeilLog2(uint64_t x) {
  return x <= 1 ? 0u : static_cast<uint32_t>(std::bit_width(x - 1));
}
