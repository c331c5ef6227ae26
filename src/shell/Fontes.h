// The fonts of the windows: the original's Arial maps to a metric-compatible
// sans (Liberation Sans, which the package depends on); so does MS Sans Serif,
// whose widths are close to Arial's: the system's sans (DejaVu Sans) is wider,
// and the captions laid out for MS Sans Serif would run under their controls.
#pragma once

#include <QFont>

// MS Sans Serif, 11 pixels: the default font of every window.
QFont fonteJanela();
// Arial bold at the given pixel size.
QFont fonteArialNegrito(int pixelSize);
