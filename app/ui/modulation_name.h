// The name of a modulation order, as the views label it.
#pragma once

#include <QString>
#include <cstdint>

inline QString nrModulationName(uint32_t qm) {
  switch (qm) {
    case 2:
      return QStringLiteral("QPSK");
    case 4:
      return QStringLiteral("16QAM");
    case 6:
      return QStringLiteral("64QAM");
    case 8:
      return QStringLiteral("256QAM");
    default:
      return QStringLiteral("Qm %1").arg(qm);
  }
}
