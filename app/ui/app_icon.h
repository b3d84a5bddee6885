// The application icon of veltra-gui, drawn in code: a slot of OFDM symbols under a waveform.
#pragma once

#include <QIcon>
#include <QPixmap>

// The icon at one size (square, side pixels).
QPixmap veltraIconPixmap(int side);
// The icon at the sizes a desktop asks for (16 ... 256 pixels).
QIcon veltraAppIcon();
