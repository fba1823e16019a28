// One program at a time on a database: a lock file held open and locked for
// as long as the store is open. The system drops the lock when the program
// ends, also when it is killed.
#pragma once

#include <memory>
#include <string>

namespace pelmora::store {

class StoreLock {
  public:
    // The lock, or null with `problem` set: another program holds it, or the
    // file cannot be made (a read-only folder).
    static std::unique_ptr<StoreLock> Take(const std::string& path, std::string& problem);
    ~StoreLock();
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;

  private:
    StoreLock() = default;
#if defined(_WIN32)
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

}  // namespace pelmora::store
