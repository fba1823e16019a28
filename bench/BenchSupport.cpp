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

std::uint64_t SteadyNanoseconds() {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
            .count());
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
        // The terminals take turns over eight loopback source addresses, the
        // port chosen at connect: with one address, each connect of a large
        // fleet searches the crowded ephemeral range for a free port.
        const int on = 1;
        ::setsockopt(s, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &on, sizeof on);
        sockaddr_in source{};
        source.sin_family = AF_INET;
        source.sin_addr.s_addr = htonl(INADDR_LOOPBACK + static_cast<std::uint32_t>(i % 8));
        ::bind(s, reinterpret_cast<sockaddr*>(&source), sizeof source);
    }
}

LoadTerminals::~LoadTerminals() {
    CloseAll();
    ::close(epoll_);
}

int LoadTerminals::ConnectAll(std::chrono::milliseconds timeout) {
    return ConnectNext(sockets_.size(), timeout);
}

int LoadTerminals::ConnectNext(std::size_t count, std::chrono::milliseconds timeout) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port_);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::size_t first = connected_;
    connected_ = std::min(sockets_.size(), first + count);
    for (std::size_t i = first; i < connected_; ++i) {
        ::connect(sockets_[i], reinterpret_cast<sockaddr*>(&address), sizeof address);
        epoll_event event{};
        event.events = EPOLLOUT;
        event.data.u64 = i;
        ::epoll_ctl(epoll_, EPOLL_CTL_ADD, sockets_[i], &event);
    }
    int registered = 0;
    std::size_t done = 0;
    std::vector<bool> answered(connected_ - first, false);
    const auto deadline = Clock::now() + timeout;
    std::vector<epoll_event> events(1024);
    while (done < connected_ - first && Clock::now() < deadline) {
        const int n = ::epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), 10);
        for (int k = 0; k < n; ++k) {
            const std::size_t i = events[k].data.u64;
            // Connected before, or a second event: the peer closed meanwhile.
            if (i < first || answered[i - first]) continue;
            answered[i - first] = true;
            int error = 0;
            socklen_t length = sizeof error;
            ::getsockopt(sockets_[i], SOL_SOCKET, SO_ERROR, &error, &length);
            epoll_event quiet{};
            quiet.events = EPOLLIN;
            quiet.data.u64 = i;
            ::epoll_ctl(epoll_, EPOLL_CTL_MOD, sockets_[i], &quiet);
            ++done;
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

std::uint64_t LoadTerminals::Flood(const std::vector<std::uint8_t>& message, int perWrite,
                                   std::chrono::milliseconds duration) {
    std::vector<std::uint8_t> chunk;
    for (int i = 0; i < perWrite; ++i) chunk.insert(chunk.end(), message.begin(), message.end());
    std::vector<std::uint64_t> written(sockets_.size(), 0);
    auto watch = [&](std::uint32_t events) {
        for (std::size_t i = 0; i < sockets_.size(); ++i) {
            epoll_event event{};
            event.events = events;
            event.data.u64 = i;
            ::epoll_ctl(epoll_, EPOLL_CTL_MOD, sockets_[i], &event);
        }
    };
    watch(EPOLLOUT);
    std::uint64_t total = 0;
    const auto end = Clock::now() + duration;
    std::vector<epoll_event> events(1024);
    while (Clock::now() < end) {
        const int n = ::epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), 10);
        for (int k = 0; k < n; ++k) {
            const std::size_t i = events[k].data.u64;
            // Where the last send stopped inside a message, this one goes on.
            const std::size_t offset = written[i] % message.size();
            const ssize_t sent = ::send(sockets_[i], chunk.data() + offset, chunk.size() - offset,
                                        MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent <= 0) continue;
            written[i] += static_cast<std::uint64_t>(sent);
            total += static_cast<std::uint64_t>(sent);
        }
    }
    watch(EPOLLIN);
    return total;
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
    connected_ = 0;
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
    enum : char { kUnused, kAccepted, kHeard };
    std::vector<char> state;  // per descriptor
    char buffer[8192];
    while (!stop_) {
        const int n = ::epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), 100);
        for (int k = 0; k < n; ++k) {
            const int fd = events[k].data.fd;
            if (fd == wake_) continue;
            if (fd == listener_) {
                for (;;) {
                    const int c = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK);
                    if (c < 0) break;
                    if (static_cast<std::size_t>(c) >= state.size())
                        state.resize(static_cast<std::size_t>(c) + 1, kUnused);
                    state[static_cast<std::size_t>(c)] = kAccepted;
                    epoll_event event{};
                    event.events = EPOLLIN;
                    event.data.fd = c;
                    ::epoll_ctl(epoll_, EPOLL_CTL_ADD, c, &event);
                }
                continue;
            }
            const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
            if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) continue;
            if (got <= 0) {
                ::close(fd);  // also leaves the epoll set
                state[static_cast<std::size_t>(fd)] = kUnused;
                ++closed_;
                continue;
            }
            if (state[static_cast<std::size_t>(fd)] == kAccepted) {
                state[static_cast<std::size_t>(fd)] = kHeard;
                ++firstMessages_;
            } else {
                bytes_ += static_cast<std::uint64_t>(got);
            }
        }
    }
    for (std::size_t fd = 0; fd < state.size(); ++fd) {
        if (state[fd] != kUnused) ::close(static_cast<int>(fd));
    }
}

int RegisteringChild(ChildProcess& parent, int terminals, std::uint32_t firstId) {
    RaiseDescriptorLimit();
    const auto port = static_cast<std::uint16_t>(parent.Receive());
    LoadTerminals load(port, terminals, firstId);
    parent.Send(1);  // sockets made, ready
    if (parent.Receive() == kStepwiseWord) {
        // Batch sizes follow, each answered with its registrations; 0 ends.
        while (const std::uint64_t batch = parent.Receive())
            parent.Send(
                static_cast<std::uint64_t>(load.ConnectNext(batch, std::chrono::seconds(60))));
    } else {
        parent.Send(static_cast<std::uint64_t>(load.ConnectAll(std::chrono::seconds(60))));
    }
    while (parent.Receive() == kCloseAllWord) {
        const std::uint64_t began = SteadyNanoseconds();
        load.CloseAll();
        const std::uint64_t ended = SteadyNanoseconds();
        parent.Send(began);
        parent.Send(ended);
    }
    return 0;
}

std::uint64_t RegisterStepwise(ChildProcess& child, int terminals, int listenBacklog,
                               const std::function<long long()>& taken) {
    const long long batch = std::max(1, listenBacklog / 2);
    child.Send(kStepwiseWord);
    std::uint64_t sent = 0;
    for (long long connected = 0; connected < terminals;) {
        if (TimeUntil([&] { return taken() >= connected - batch; }, std::chrono::seconds(60)) < 0)
            break;
        const long long next = std::min<long long>(batch, terminals - connected);
        child.Send(static_cast<std::uint64_t>(next));
        sent += child.Receive();
        connected += next;
    }
    child.Send(0);
    return sent;
}

}  // namespace bench
