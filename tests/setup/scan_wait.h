// Lets the event loop run until the setup window's port scan has been applied: its probe runs
// on a thread of its own and its result comes back through the event loop.
#pragma once

#include <QCoreApplication>
#include <QEventLoop>

#include "setup/setup_window.h"

namespace dittix::setup::test {

inline void waitForScan(const Tsetup& window) {
    while (window.scanRunning()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

}  // namespace dittix::setup::test
