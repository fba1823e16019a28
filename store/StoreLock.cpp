#include "StoreLock.h"

#include <cerrno>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace pelmora::store {

#if defined(_WIN32)

std::unique_ptr<StoreLock> StoreLock::Take(const std::string& path, std::string& problem) {
    // Opened without sharing: a second program cannot open it.
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        problem = GetLastError() == ERROR_SHARING_VIOLATION
                      ? "another program uses the database (" + path + ")"
                      : "cannot make " + path;
        return nullptr;
    }
    std::unique_ptr<StoreLock> lock(new StoreLock);
    lock->handle_ = handle;
    return lock;
}

StoreLock::~StoreLock() {
    CloseHandle(static_cast<HANDLE>(handle_));
}

#else

std::unique_ptr<StoreLock> StoreLock::Take(const std::string& path, std::string& problem) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        problem = "cannot make " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        problem = errno == EWOULDBLOCK ? "another program uses the database (" + path + ")"
                                       : "cannot lock " + path + ": " + std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    std::unique_ptr<StoreLock> lock(new StoreLock);
    lock->fd_ = fd;
    return lock;
}

StoreLock::~StoreLock() {
    ::close(fd_);
}

#endif

}  // namespace pelmora::store
