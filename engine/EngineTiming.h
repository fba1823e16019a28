// Every timing of the command engine, injectable so that tests run in
// milliseconds. The defaults are the service's: text replies are polled once
// a second for 60 s, frame answers every 100 ms for 60 s.
#pragma once

#include <chrono>
#include <functional>

#include "CmdDataObj.h"

namespace pelmora {

struct EngineTiming {
    std::chrono::milliseconds textPollInterval{1000};
    int textPolls = 60;
    std::chrono::milliseconds framePollInterval{100};
    int framePolls = 600;
    std::chrono::milliseconds intercomPause{300};  // after the intercom-module line
    // How long the answer of a terminal whose connection went may still come
    // in through the window's intake.
    std::chrono::milliseconds connectionGrace{2000};

    // How the worker sleeps between polls; by default it waits on its own
    // wake-up, so a cancel or a service stop ends the wait at once.
    std::function<void(std::chrono::milliseconds)> sleep;
    // The local time stamped into control frames; the default reads the clock.
    std::function<FrameTimestamp()> localTime;
};

// Fills in the defaults of whatever was left empty.
EngineTiming WithDefaults(EngineTiming timing);
FrameTimestamp LocalTimestampNow();

}  // namespace pelmora
