// The inbox folder: alert files dropped there are read one by one, in name
// order, and moved to done/ when taken, or to rejected/ with a ".reason"
// file beside them saying why. A file still being written (younger than the
// settle time) waits for the next scan. Plain C++; no Qt.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

#include "GatewayServer.h"

namespace pelmora::gateway {

class Inbox {
  public:
    using Log = std::function<void(const std::string& line)>;  // UTF-8
    Inbox(std::filesystem::path folder, IGatewayHandler& handler, Log log,
          std::chrono::milliseconds settle = std::chrono::milliseconds(1000));
    // Takes every settled file once; returns how many were taken. Creates the
    // folders when missing. Called by a timer on any one thread.
    int Scan();

  private:
    std::filesystem::path folder_;
    IGatewayHandler& handler_;
    Log log_;
    std::chrono::milliseconds settle_;
};

}  // namespace pelmora::gateway
