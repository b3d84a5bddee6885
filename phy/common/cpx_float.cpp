#include "phy/common/cpx_float.h"

#include <cmath>

int16_t nrFloatToInt16(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 32767.0) return 32767;
  if (v <= -32768.0) return -32768;
  return static_cast<int16_t>(v);
}
