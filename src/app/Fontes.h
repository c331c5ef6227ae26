// The fonts of the windows: the original's Arial maps to a metric-compatible
// sans (Liberation Sans), MS Sans Serif to the system's sans.
#pragma once

#include <QFont>

// MS Sans Serif, 11 pixels: the default font of every window.
QFont fonteJanela();
// Arial bold at the given pixel size.
QFont fonteArialNegrito(int pixelSize);
