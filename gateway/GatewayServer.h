// The HTTP interface: a small server on its own threads that checks every
// request's bearer token and size, hands what it asks to a handler, and logs
// every request with its source address and outcome. HTTPS when a
// certificate and key are given. Plain C++; no Qt.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace pelmora::gateway {

struct HttpAnswer {
    int status = 200;
    std::string json;  // the body, application/json
};

// What the server asks of the centre. Called on the server's threads, at
// the same time from several; implementations lock what they share.
class IGatewayHandler {
  public:
    virtual ~IGatewayHandler() = default;
    // POST /api/v1/alerts: one CAP alert. `source` names where it came from
    // (the client's address, or the inbox file).
    virtual HttpAnswer PostAlert(const std::string& xml, const std::string& source) = 0;
    // POST /api/v1/warnings: a warning as JSON.
    virtual HttpAnswer PostWarning(const std::string& json, const std::string& source) = 0;
    // GET /api/v1/warnings/{id}
    virtual HttpAnswer GetWarning(std::int64_t id) = 0;
    // GET /api/v1/terminals
    virtual HttpAnswer GetTerminals() = 0;
};

struct GatewayOptions {
    std::string address = "127.0.0.1";
    int port = 5080;  // 0: any free port (tests)
    std::string token;
    std::string certificate;  // paths; HTTPS when both are set
    std::string key;
    std::size_t maxBody = 1024 * 1024;  // a larger body is answered 413
    // Failed tokens from one address beyond this many within
    // `failedWindow` are answered only after `failedDelay`. A good token
    // from the address starts its count again.
    int failedFree = 5;
    std::chrono::milliseconds failedDelay{1000};
    std::chrono::seconds failedWindow{60};
};

class GatewayServer {
  public:
    using Log = std::function<void(const std::string& line)>;  // UTF-8, any thread
    GatewayServer(IGatewayHandler& handler, Log log);
    ~GatewayServer();  // stops
    GatewayServer(const GatewayServer&) = delete;
    GatewayServer& operator=(const GatewayServer&) = delete;

    // Listens and serves on its own threads; empty when it does, otherwise
    // why not (the address is taken, the certificate cannot be read). A
    // running server is stopped first. Start and Stop are called from one
    // thread.
    std::string Start(const GatewayOptions& options);
    // Waits for the requests in flight (a client that stalls, at most the
    // read timeout of 10 s); a slowed answer is cut short.
    void Stop();
    bool Running() const;
    int Port() const;  // the port it listens on; 0 when it does not
    // The token may change while it runs (renewed in the settings).
    void SetToken(const std::string& token);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// A new token: 32 random bytes in lower-case hexadecimal.
std::string NewToken();

}  // namespace pelmora::gateway
