#pragma once
// Where the main window goes: centred on the monitor the settings name.

#include <QPoint>
#include <QRect>
#include <QSize>

namespace tessarin {

// Top-left corner that centres a window of this size on monitor; halves are
// rounded toward zero, as integer division does.
QPoint PlaceOnMonitor(const QRect& monitor, QSize window);

// Index into the platform's monitor list for a 1-based monitor number; a number
// beyond the monitors there are (or below 1) means the first one.
int MonitorIndex(int monitorNumber, int monitorCount);

} // namespace tessarin
