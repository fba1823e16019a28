#include "GatewayServer.h"

#include <httplib.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <unordered_map>

#include "LogText.h"

namespace pelmora::gateway {

namespace {

constexpr const char* kJsonType = "application/json; charset=utf-8";
// Requests served at the same time; more wait for a free thread.
constexpr std::size_t kThreads = 8;
// A client that sends nothing for this long is dropped.
constexpr time_t kReadTimeoutSeconds = 10;
constexpr time_t kWriteTimeoutSeconds = 10;
// How long a new connection may stay silent before its first request.
constexpr time_t kIdleSeconds = 5;
// Addresses whose failed tokens are counted; the longest unseen goes first.
constexpr std::size_t kMaxAddresses = 1024;
// A chunked body over maxBody is read on and dropped up to this much, so
// that the client is there to read the 413; beyond, the connection is cut.
constexpr std::size_t kMaxDrained = 16 * 1024 * 1024;
// Requests with a body and a path up to this long reach the library's
// routing, which matches paths with a regular expression that recurses once
// per character; longer ones are answered without their body being read.
constexpr std::size_t kMaxRoutedPath = 256;

constexpr std::string_view kAlerts = "/api/v1/alerts";
constexpr std::string_view kWarnings = "/api/v1/warnings";
constexpr std::string_view kTerminals = "/api/v1/terminals";

using Digest = std::array<unsigned char, 32>;

Digest Sha256(std::string_view text) {
    Digest digest{};
    unsigned int size = 0;
    if (EVP_Digest(text.data(), text.size(), digest.data(), &size, EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 failed");
    return digest;
}

std::string ErrorJson(std::string_view text) {
    return nlohmann::json{{"error", std::string(text)}}.dump();
}

// What the server says for a status it refuses with on its own.
std::string_view Reason(int status) {
    switch (status) {
        case 400:
            return "bad request";
        case 401:
            return "unauthorized";
        case 404:
            return "not found";
        case 405:
            return "method not allowed";
        case 408:
            return "request timeout";
        case 413:
            return "request body too large";
        case 414:
            return "uri too long";
        case 415:
            return "unsupported media type";
        case 417:
            return "expectation failed";
        case 431:
            return "request header fields too large";
        case 500:
            return "internal error";
        default:
            return status >= 500 ? "server error" : "request refused";
    }
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// The media type of a Content-Type header, without its parameters.
std::string_view MediaType(std::string_view contentType) {
    return Trim(contentType.substr(0, contentType.find(';')));
}

// The token of "Bearer <token>"; nothing for another scheme.
std::optional<std::string_view> BearerToken(std::string_view authorization) {
    authorization = Trim(authorization);
    constexpr std::string_view kScheme = "Bearer";
    if (authorization.size() <= kScheme.size() ||
        !EqualsNoCase(authorization.substr(0, kScheme.size()), kScheme) ||
        authorization[kScheme.size()] != ' ')
        return std::nullopt;
    return Trim(authorization.substr(kScheme.size()));
}

enum class Route { None, Alerts, Warnings, Warning, Terminals };

struct Target {
    Route route = Route::None;
    std::int64_t id = 0;  // of Route::Warning
    const char* method = "";
};

Target Find(std::string_view path) {
    if (path == kAlerts) return {Route::Alerts, 0, "POST"};
    if (path == kWarnings) return {Route::Warnings, 0, "POST"};
    if (path == kTerminals) return {Route::Terminals, 0, "GET"};
    if (path.size() > kWarnings.size() + 1 && path.substr(0, kWarnings.size()) == kWarnings &&
        path[kWarnings.size()] == '/') {
        const std::string_view digits = path.substr(kWarnings.size() + 1);
        std::int64_t id = 0;
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), id);
        if (error == std::errc() && end == digits.data() + digits.size() && digits[0] != '-' &&
            id > 0)
            return {Route::Warning, id, "GET"};
    }
    return {};
}

// The error text of a JSON answer, if it has one.
std::string ErrorOf(const std::string& json) {
    const nlohmann::json parsed = nlohmann::json::parse(json, nullptr, false);
    if (parsed.is_object()) {
        const auto it = parsed.find("error");
        if (it != parsed.end() && it->is_string()) return it->get<std::string>();
    }
    return {};
}

// The library listens with a backlog of 5: a burst of more clients than that
// would wait for their SYN to be sent again, a second later. Listening once
// more on the bound socket widens it.
struct Backlog : httplib::Server {
    static void Widen(httplib::Server& server) {
        ::listen((server.*(&Backlog::svr_sock_)).load(), SOMAXCONN);
    }
};

// A note for the log line of the request this thread is serving: the logger
// runs on the same thread right after the answer is written.
thread_local std::string tNote;

}  // namespace

struct GatewayServer::Impl {
    struct Failures {
        int count = 0;
        std::chrono::steady_clock::time_point first;
        std::chrono::steady_clock::time_point last;
    };

    Impl(IGatewayHandler& h, Log l) : handler(h), log(std::move(l)) {}

    IGatewayHandler& handler;
    Log log;
    GatewayOptions options;  // fixed while it runs
    std::unique_ptr<httplib::Server> server;
    std::thread thread;
    std::atomic<bool> running{false};
    int port = 0;

    std::mutex tokenLock;
    std::optional<Digest> token;  // none: every request refused

    std::mutex failuresLock;
    std::unordered_map<std::string, Failures> failures;

    std::mutex stopLock;
    std::condition_variable stopWake;
    bool stopping = false;

    void Write(const std::string& line) {
        if (!log) return;
        try {
            log(line);
        } catch (...) {
            // A log that cannot write loses the line, never the answer.
        }
    }

    void SetToken(const std::string& text) {
        std::optional<Digest> digest;
        if (!text.empty()) digest = Sha256(text);
        std::lock_guard guard(tokenLock);
        token = digest;
    }

    // Compares digests, so the time taken says nothing of the token.
    bool Authorized(const httplib::Request& req) {
        const std::string header = req.get_header_value("Authorization");
        const std::optional<std::string_view> presented = BearerToken(header);
        if (!presented || presented->empty()) return false;
        const Digest digest = Sha256(*presented);
        std::lock_guard guard(tokenLock);
        return token && CRYPTO_memcmp(token->data(), digest.data(), digest.size()) == 0;
    }

    // Counts a failed token; true when the answer is to be slowed.
    bool Failed(const std::string& address) {
        const auto now = std::chrono::steady_clock::now();
        std::lock_guard guard(failuresLock);
        auto it = failures.find(address);
        if (it == failures.end()) {
            if (failures.size() >= kMaxAddresses) {
                auto oldest = failures.begin();
                for (auto i = failures.begin(); i != failures.end(); ++i)
                    if (i->second.last < oldest->second.last) oldest = i;
                failures.erase(oldest);
            }
            it = failures.emplace(address, Failures{0, now, now}).first;
        }
        Failures& f = it->second;
        if (now - f.first > options.failedWindow) f = Failures{0, now, now};
        ++f.count;
        f.last = now;
        return f.count > options.failedFree;
    }

    void Succeeded(const std::string& address) {
        std::lock_guard guard(failuresLock);
        failures.erase(address);
    }

    // Waits before a slowed answer; Stop cuts it short.
    void Pause() {
        std::unique_lock lock(stopLock);
        stopWake.wait_for(lock, options.failedDelay, [this] { return stopping; });
    }

    static void Answer(httplib::Response& res, int status, std::string json) {
        res.status = status;
        res.set_content(std::move(json), kJsonType);
    }

    static void Refuse(httplib::Response& res, int status, std::string_view text = {}) {
        Answer(res, status, ErrorJson(text.empty() ? Reason(status) : text));
    }

    // Every request comes here, with a reader when it has a body the
    // library can read; the body is then read within maxBody whatever the
    // answer, so that the client reads it before the connection closes.
    // Each connection serves one request: a body left unread goes with it.
    void Serve(const httplib::Request& req, httplib::Response& res,
               const httplib::ContentReader* reader) {
        tNote.clear();
        std::string body;
        bool tooLarge = false;
        bool readFailed = false;
        if (reader) {
            std::size_t dropped = 0;
            const httplib::ContentReceiver receive = [&](const char* data, std::size_t size) {
                if (!tooLarge && size <= options.maxBody - body.size()) {
                    body.append(data, size);
                    return true;
                }
                tooLarge = true;
                body.clear();
                dropped += size;
                return dropped <= kMaxDrained;
            };
            const bool read =
                req.is_multipart_form_data()
                    ? (*reader)([](const httplib::MultipartFormData&) { return true; }, receive)
                    : (*reader)(receive);
            // The library checks Content-Length against maxBody itself.
            if (res.status == 413) tooLarge = true;
            readFailed = !read && !tooLarge;
            res.status = -1;
        } else if (req.has_header("Transfer-Encoding")) {
            readFailed = true;  // not one the library reads
        }

        const std::string& address = req.remote_addr;
        if (!Authorized(req)) {
            if (Failed(address)) {
                Pause();
                tNote = "延迟 " + std::to_string(options.failedDelay.count()) + " ms";
            }
            res.set_header("WWW-Authenticate", "Bearer");
            Refuse(res, 401);
            return;
        }
        Succeeded(address);

        const Target target = Find(req.path);
        if (target.route == Route::None) return Refuse(res, 404);
        if (req.method != target.method) {
            res.set_header("Allow", target.method);
            return Refuse(res, 405);
        }
        if (target.method == std::string_view("POST")) {
            if (tooLarge) return Refuse(res, 413);
            const std::string contentType = req.get_header_value("Content-Type");
            const std::string_view type = MediaType(contentType);
            const bool alert = target.route == Route::Alerts;
            const bool typeOk = alert ? EqualsNoCase(type, "application/cap+xml") ||
                                            EqualsNoCase(type, "application/xml")
                                      : EqualsNoCase(type, "application/json");
            if (!typeOk) {
                return Refuse(res, 415,
                              alert ? "Content-Type must be application/cap+xml or application/xml"
                                    : "Content-Type must be application/json");
            }
            if (readFailed) return Refuse(res, 400, "the body could not be read");
        }

        HttpAnswer answer;
        try {
            switch (target.route) {
                case Route::Alerts:
                    answer = handler.PostAlert(body, address);
                    break;
                case Route::Warnings:
                    answer = handler.PostWarning(body, address);
                    break;
                case Route::Warning:
                    answer = handler.GetWarning(target.id);
                    break;
                case Route::Terminals:
                    answer = handler.GetTerminals();
                    break;
                case Route::None:
                    break;
            }
        } catch (const std::exception& e) {
            tNote = std::string("处理出错：") + e.what();
            return Refuse(res, 500);
        } catch (...) {
            tNote = "处理出错";
            return Refuse(res, 500);
        }
        if (answer.status < 200 || answer.status > 599) {
            tNote = "处理返回了无效的状态 " + std::to_string(answer.status);
            return Refuse(res, 500);
        }
        if (answer.json.empty())
            answer.json = answer.status >= 400 ? ErrorJson(Reason(answer.status)) : "{}";
        Answer(res, answer.status, std::move(answer.json));
    }

    void LogRequest(const httplib::Request& req, const httplib::Response& res) {
        std::string line = "网关: ";
        line += req.remote_addr.empty() ? "?" : LogText(req.remote_addr, 64);
        line += ' ';
        line += req.method.empty() ? "?" : LogText(req.method, 16);
        line += ' ';
        line += req.path.empty() ? "?" : LogText(req.path);
        line += " → " + std::to_string(res.status);
        if (res.status >= 400) {
            const std::string error = ErrorOf(res.body);
            if (!error.empty()) line += " " + LogText(error);
        }
        if (!tNote.empty()) line += "（" + LogText(tNote) + "）";
        tNote.clear();
        Write(line);
    }

    void Configure(httplib::Server& s) {
        s.new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
        s.set_read_timeout(kReadTimeoutSeconds, 0);
        s.set_write_timeout(kWriteTimeoutSeconds, 0);
        // One request per connection: an idle connection holds no thread,
        // and a refused request's unread body never reaches the next one.
        s.set_keep_alive_max_count(1);
        s.set_keep_alive_timeout(kIdleSeconds);
        s.set_payload_max_length(options.maxBody);
        // The library's default also sets SO_REUSEPORT, with which a second
        // server would share the port instead of being told it is taken.
        s.set_socket_options([](socket_t sock) {
            const int yes = 1;
            setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        });
        s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
            const bool body = req.has_header("Content-Length") ||
                              EqualsNoCase(req.get_header_value("Transfer-Encoding"), "chunked");
            if (body && req.path.size() <= kMaxRoutedPath &&
                (req.method == "POST" || req.method == "PUT" || req.method == "PATCH" ||
                 req.method == "DELETE"))
                return httplib::Server::HandlerResponse::Unhandled;
            Serve(req, res, nullptr);
            return httplib::Server::HandlerResponse::Handled;
        });
        const auto withBody = [this](const httplib::Request& req, httplib::Response& res,
                                     const httplib::ContentReader& reader) {
            Serve(req, res, &reader);
        };
        const std::string any = "[\\s\\S]*";
        s.Post(any, withBody);
        s.Put(any, withBody);
        s.Patch(any, withBody);
        s.Delete(any, withBody);
        // What the library refuses on its own (a bad request line, a long
        // URI, a body over maxBody) is answered in JSON too.
        s.set_error_handler(httplib::Server::HandlerWithResponse(
            [](const httplib::Request&, httplib::Response& res) {
                if (res.body.empty()) Refuse(res, res.status);
                return httplib::Server::HandlerResponse::Unhandled;
            }));
        s.set_exception_handler(
            [](const httplib::Request&, httplib::Response& res, std::exception_ptr error) {
                tNote = "处理出错";
                try {
                    if (error) std::rethrow_exception(error);
                } catch (const std::exception& e) {
                    tNote += std::string("：") + e.what();
                } catch (...) {
                }
                Refuse(res, 500);
            });
        s.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
            LogRequest(req, res);
        });
    }
};

GatewayServer::GatewayServer(IGatewayHandler& handler, Log log)
    : impl_(std::make_unique<Impl>(handler, std::move(log))) {}

GatewayServer::~GatewayServer() {
    Stop();
}

std::string GatewayServer::Start(const GatewayOptions& options) {
    Stop();
    Impl& d = *impl_;
    d.options = options;
    d.port = 0;
    d.failures.clear();
    SetToken(options.token);
    if (options.port < 0 || options.port > 65535)
        return "端口 " + std::to_string(options.port) + " 不在 0 到 65535 之间";
    if (options.certificate.empty() != options.key.empty()) return "HTTPS 需要证书和私钥两个文件";

    std::unique_ptr<httplib::Server> server;
    if (!options.certificate.empty()) {
        for (const auto& [what, path] :
             {std::pair{"证书", &options.certificate}, std::pair{"私钥", &options.key}}) {
            std::ifstream file(*path, std::ios::binary);
            if (!file)
                return std::string("无法读取") + what + " " + *path + "：" + std::strerror(errno);
        }
        ERR_clear_error();
        server =
            std::make_unique<httplib::SSLServer>(options.certificate.c_str(), options.key.c_str());
        if (!server->is_valid()) {
            std::string why = "证书或私钥不可用（不是 PEM 格式，或二者不配对）";
            if (const unsigned long code = ERR_peek_last_error(); code != 0) {
                char text[256];
                ERR_error_string_n(code, text, sizeof text);
                why += "：" + std::string(text);
            }
            ERR_clear_error();
            return why;
        }
    } else {
        server = std::make_unique<httplib::Server>();
    }
    d.Configure(*server);

    errno = 0;
    int port = options.port;
    if (port == 0) {
        port = server->bind_to_any_port(options.address);
    } else if (!server->bind_to_port(options.address, port)) {
        port = -1;
    }
    if (port <= 0) {
        std::string why =
            "无法在 " + options.address + ":" + std::to_string(options.port) + " 上监听";
        if (errno != 0) why += "：" + std::string(std::strerror(errno));
        return why;
    }

    Backlog::Widen(*server);
    {
        std::lock_guard guard(d.stopLock);
        d.stopping = false;
    }
    d.port = port;
    d.server = std::move(server);
    auto done = std::make_shared<std::atomic<bool>>(false);
    d.thread = std::thread([s = d.server.get(), done] {
        s->listen_after_bind();
        done->store(true);
    });
    // The library's stop() does nothing until its loop has begun.
    while (!d.server->is_running() && !done->load()) std::this_thread::yield();
    d.running = true;
    return {};
}

void GatewayServer::Stop() {
    Impl& d = *impl_;
    if (!d.server) return;
    {
        std::lock_guard guard(d.stopLock);
        d.stopping = true;
    }
    d.stopWake.notify_all();
    d.server->stop();
    if (d.thread.joinable()) d.thread.join();  // also waits for requests in flight
    d.server.reset();
    d.running = false;
    d.port = 0;
}

bool GatewayServer::Running() const {
    return impl_->running;
}

int GatewayServer::Port() const {
    return impl_->port;
}

void GatewayServer::SetToken(const std::string& token) {
    impl_->SetToken(token);
}

std::string NewToken() {
    std::array<unsigned char, 32> bytes{};
    if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1)
        throw std::runtime_error("no random bytes for a token");
    static constexpr char kHex[] = "0123456789abcdef";
    std::string token;
    token.reserve(bytes.size() * 2);
    for (const unsigned char b : bytes) {
        token += kHex[b >> 4];
        token += kHex[b & 0xF];
    }
    return token;
}

}  // namespace pelmora::gateway
