#include "BenchSupport.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "TerminalSimulator.h"

namespace bench {

using Clock = std::chrono::steady_clock;

long RaiseDescriptorLimit() {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    getrlimit(RLIMIT_NOFILE, &limit);
    return static_cast<long>(limit.rlim_cur);
}

long long ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    long long pages = 0;
    long long resident = 0;
    statm >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int CountEntries(const char* folder) {
    DIR* dir = opendir(folder);
    if (dir == nullptr) return -1;
    int count = 0;
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
    return count - 2;
}

std::uint16_t FreePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(s);
    return ntohs(address.sin_port);
}

double TimeUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto start = Clock::now();
    while (!condition()) {
        if (Clock::now() - start > timeout) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// ---------------------------------------------------------------------------

ChildProcess::ChildProcess(const Body& body) {
    int down[2];
    int up[2];
    if (::pipe(down) != 0 || ::pipe(up) != 0) throw std::runtime_error("pipe failed");
    std::fflush(stdout);
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        ::close(down[1]);
        ::close(up[0]);
        readFd_ = down[0];
        writeFd_ = up[1];
        std::_Exit(body(*this));
    }
    ::close(down[0]);
    ::close(up[1]);
    readFd_ = up[0];
    writeFd_ = down[1];
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) Wait();
}

void ChildProcess::Send(std::uint64_t word) {
    if (::write(writeFd_, &word, sizeof word) != sizeof word)
        throw std::runtime_error("pipe write");
}

std::uint64_t ChildProcess::Receive() {
    std::uint64_t word = 0;
    if (::read(readFd_, &word, sizeof word) != sizeof word) throw std::runtime_error("pipe read");
    return word;
}

int ChildProcess::Wait() {
    if (pid_ <= 0) return 0;
    ::close(writeFd_);
    ::close(readFd_);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// ---------------------------------------------------------------------------

LoadTerminals::LoadTerminals(std::uint16_t port, int count, std::uint32_t firstId)
    : port_(port), firstId_(firstId), epoll_(::epoll_create1(0)) {
    sockets_.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        if (s < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
        sockets_.push_back(s);
    }
}

LoadTerminals::~LoadTerminals() {
    CloseAll();
    ::close(epoll_);
}

int LoadTerminals::ConnectAll(std::chrono::milliseconds timeout) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port_);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (std::size_t i = 0; i < sockets_.size(); ++i) {
        ::connect(sockets_[i], reinterpret_cast<sockaddr*>(&address), sizeof address);
        epoll_event event{};
        event.events = EPOLLOUT;
        event.data.u64 = i;
        ::epoll_ctl(epoll_, EPOLL_CTL_ADD, sockets_[i], &event);
    }
    int registered = 0;
    const auto deadline = Clock::now() + timeout;
    std::vector<epoll_event> events(1024);
    while (registered < static_cast<int>(sockets_.size()) && Clock::now() < deadline) {
        const int n = ::epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), 10);
        for (int k = 0; k < n; ++k) {
            const std::size_t i = events[k].data.u64;
            int error = 0;
            socklen_t length = sizeof error;
            ::getsockopt(sockets_[i], SOL_SOCKET, SO_ERROR, &error, &length);
            epoll_event quiet{};
            quiet.events = EPOLLIN;
            quiet.data.u64 = i;
            ::epoll_ctl(epoll_, EPOLL_CTL_MOD, sockets_[i], &quiet);
            if (error != 0) continue;
            const auto message = dovrik::sim::RegistrationMessage(
                {.deviceId = firstId_ + static_cast<std::uint32_t>(i)});
            if (::send(sockets_[i], message.data(), message.size(), MSG_NOSIGNAL) ==
                static_cast<ssize_t>(message.size())) {
                ++registered;
            }
        }
    }
    return registered;
}

std::uint64_t LoadTerminals::Pace(const std::vector<std::uint8_t>& message, double perSecond,
                                  std::chrono::milliseconds duration) {
    return Pace(std::vector<std::vector<std::uint8_t>>{message}, perSecond, duration);
}

std::uint64_t LoadTerminals::Pace(const std::vector<std::vector<std::uint8_t>>& messages,
                                  double perSecond, std::chrono::milliseconds duration) {
    const auto start = Clock::now();
    const auto end = start + duration;
    std::uint64_t attempted = 0;
    std::uint64_t sent = 0;
    std::size_t next = 0;
    for (auto now = start; now < end; now = Clock::now()) {
        const double due = perSecond * std::chrono::duration<double>(now - start).count();
        while (static_cast<double>(attempted) < due) {
            const int s = sockets_[next];
            next = (next + 1) % sockets_.size();
            ++attempted;
            // A full socket loses its turn: the message is not sent.
            const std::vector<std::uint8_t>& message = messages[attempted % messages.size()];
            if (::send(s, message.data(), message.size(), MSG_NOSIGNAL | MSG_DONTWAIT) > 0) ++sent;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return sent;
}

std::uint64_t LoadTerminals::ReadUntil(std::uint64_t bytes, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    std::vector<epoll_event> events(1024);
    char buffer[16384];
    while (received_ < bytes && Clock::now() < deadline) {
        const int n = ::epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), 10);
        for (int k = 0; k < n; ++k) {
            const int s = sockets_[events[k].data.u64];
            for (;;) {
                const ssize_t got = ::recv(s, buffer, sizeof buffer, MSG_DONTWAIT);
                if (got <= 0) break;
                received_ += static_cast<std::uint64_t>(got);
            }
        }
    }
    return received_;
}

void LoadTerminals::CloseAll() {
    for (int s : sockets_) ::close(s);
    sockets_.clear();
}

// ---------------------------------------------------------------------------

BareReader::BareReader(std::uint16_t port)
    : listener_(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0)),
      epoll_(::epoll_create1(0)),
      wake_(::eventfd(0, EFD_NONBLOCK)) {
    const int on = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 200) != 0) {
        throw std::runtime_error("bare reader cannot listen");
    }
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = listener_;
    ::epoll_ctl(epoll_, EPOLL_CTL_ADD, listener_, &event);
    event.data.fd = wake_;
    ::epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &event);
    thread_ = std::thread([this] { Run(); });
}

BareReader::~BareReader() {
    stop_ = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] auto ignored = ::write(wake_, &one, sizeof one);
    thread_.join();
    ::close(listener_);
    ::close(epoll_);
    ::close(wake_);
}

void BareReader::Run() {
    std::vector<epoll_event> events(1024);
    std::vector<char> seen;  // per descriptor: has it sent its first message
    char buffer[8192];
    std::vector<int> open;
    while (!stop_) {
        const int n = ::epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), 100);
        for (int k = 0; k < n; ++k) {
            const int fd = events[k].data.fd;
            if (fd == wake_) continue;
            if (fd == listener_) {
                for (;;) {
                    const int c = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK);
                    if (c < 0) break;
                    if (static_cast<std::size_t>(c) >= seen.size())
                        seen.resize(static_cast<std::size_t>(c) + 1, 0);
                    seen[static_cast<std::size_t>(c)] = 0;
                    open.push_back(c);
                    epoll_event event{};
                    event.events = EPOLLIN;
                    event.data.fd = c;
                    ::epoll_ctl(epoll_, EPOLL_CTL_ADD, c, &event);
                }
                continue;
            }
            const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
            if (got <= 0) {
                ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
                continue;
            }
            if (!seen[static_cast<std::size_t>(fd)]) {
                seen[static_cast<std::size_t>(fd)] = 1;
                ++firstMessages_;
            } else {
                bytes_ += static_cast<std::uint64_t>(got);
            }
        }
    }
    for (int c : open) ::close(c);
}

int RegisteringChild(ChildProcess& parent, int terminals, std::uint32_t firstId) {
    RaiseDescriptorLimit();
    const auto port = static_cast<std::uint16_t>(parent.Receive());
    LoadTerminals load(port, terminals, firstId);
    parent.Send(1);    // sockets made, ready
    parent.Receive();  // go
    parent.Send(static_cast<std::uint64_t>(load.ConnectAll(std::chrono::seconds(60))));
    parent.Receive();  // stop
    return 0;
}

}  // namespace bench
