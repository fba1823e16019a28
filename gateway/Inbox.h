// The inbox folder: alert files dropped there are read one by one, in name
// order, and moved to done/ when taken, or to rejected/ with a ".reason"
// file beside them saying why. A file still being written (younger than the
// settle time) waits for the next scan. Plain C++; no Qt.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "GatewayServer.h"

namespace pelmora::gateway {

class Inbox {
  public:
    using Log = std::function<void(const std::string& line)>;  // UTF-8
    // A file larger than this is rejected without being read.
    static constexpr std::size_t kMaxFileBytes = 1024 * 1024;

    Inbox(std::filesystem::path folder, IGatewayHandler& handler, Log log,
          std::chrono::milliseconds settle = std::chrono::milliseconds(1000));
    // Takes every settled file once: posts it as an alert (or refuses it
    // unread when too large) and moves it to done/ or rejected/; returns how
    // many files it took. Creates the folders when missing. Only regular
    // files directly in the folder count: not hidden ones, not "*.part" or
    // "*.tmp", not links. Called by a timer on any one thread.
    int Scan();

  private:
    void Take(const std::filesystem::path& file, const std::string& name,
              std::filesystem::file_time_type modified);
    // Moves the file into `dir` under its name, or the first free "name.N";
    // with a reason, writes "<new name>.reason" beside it. Empty when done,
    // otherwise why not.
    std::string Move(const std::filesystem::path& file, const std::string& name,
                     const std::filesystem::path& dir, const std::string* reason,
                     std::string& movedAs);
    void Write(const std::string& line);
    void FolderError(const std::string& error);

    std::filesystem::path folder_;
    IGatewayHandler& handler_;
    Log log_;
    std::chrono::milliseconds settle_;
    // Files that could not be moved, by name with their time of change:
    // left where they are and not posted again until they change.
    std::map<std::string, std::filesystem::file_time_type> stuck_;
    std::string folderError_;  // the last trouble with the folder, logged once
};

}  // namespace pelmora::gateway
