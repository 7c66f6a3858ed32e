#include "app/Placement.h"

namespace tessarin {

QPoint PlaceOnMonitor(const QRect& monitor, QSize window)
{
    return {monitor.left() + monitor.width() / 2 - window.width() / 2,
            monitor.top() + monitor.height() / 2 - window.height() / 2};
}

int MonitorIndex(int monitorNumber, int monitorCount)
{
    if (monitorNumber < 1 || monitorNumber > monitorCount)
        return 0;
    return monitorNumber - 1;
}

} // namespace tessarin
