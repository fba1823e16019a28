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

    // How the worker sleeps; the default is std::this_thread::sleep_for.
    std::function<void(std::chrono::milliseconds)> sleep;
    // The local time stamped into control frames; the default reads the clock.
    std::function<FrameTimestamp()> localTime;
};

// Fills in the defaults of whatever was left empty.
EngineTiming WithDefaults(EngineTiming timing);
FrameTimestamp LocalTimestampNow();

}  // namespace pelmora
