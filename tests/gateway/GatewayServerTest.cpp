// The HTTP interface over loopback: its routes and JSON answers, the token
// and the slowing of failed ones, the body bound, the log, HTTPS, its port,
// and many clients at once.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "FakeHandler.h"
#include "GatewayServer.h"

namespace pelmora::gateway {
namespace {

namespace fs = std::filesystem;
using testing::FakeHandler;
using testing::LogLines;

constexpr const char* kToken = "a-good-token-of-the-test";
constexpr const char* kXml = "<alert>a</alert>";

class GatewayServerTest : public ::testing::Test {
  protected:
    GatewayOptions Options() {
        GatewayOptions o;
        o.port = 0;
        o.token = kToken;
        return o;
    }
    void Start(GatewayOptions o) { ASSERT_EQ(server_.Start(o), ""); }
    httplib::Client Client(const std::string& token = kToken) {
        httplib::Client client("127.0.0.1", server_.Port());
        if (!token.empty()) client.set_bearer_token_auth(token);
        return client;
    }

    FakeHandler handler_;
    LogLines log_;
    GatewayServer server_{handler_, log_.Sink()};
};

// The status, and the error text when the body is {"error": ...}; every
// answer is JSON.
std::pair<int, std::string> Outcome(const httplib::Result& r) {
    if (!r) return {-1, "no answer: " + httplib::to_string(r.error())};
    EXPECT_EQ(r->get_header_value("Content-Type"), "application/json; charset=utf-8") << r->status;
    const nlohmann::json body = nlohmann::json::parse(r->body, nullptr, false);
    EXPECT_FALSE(body.is_discarded()) << r->body;
    std::string error;
    if (body.is_object() && body.contains("error")) error = body["error"].get<std::string>();
    return {r->status, error};
}

TEST_F(GatewayServerTest, RoutesAnswerInJsonAndRefuseWhatTheyDoNotTake) {
    Start(Options());
    httplib::Client c = Client();

    EXPECT_EQ(Outcome(c.Post("/api/v1/alerts", kXml, "application/cap+xml; charset=UTF-8")),
              std::make_pair(202, std::string()));
    EXPECT_EQ(Outcome(c.Post("/api/v1/alerts", kXml, "Application/XML")).first, 202);
    EXPECT_EQ(Outcome(c.Post("/api/v1/warnings", "{}", "application/json")).first, 201);
    EXPECT_EQ(Outcome(c.Get("/api/v1/warnings/42")).first, 200);
    EXPECT_EQ(Outcome(c.Get("/api/v1/terminals")).first, 200);
    const std::vector<FakeHandler::Call> calls = handler_.Calls();
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[0].what, "alert");
    EXPECT_EQ(calls[0].body, kXml);
    EXPECT_EQ(calls[0].source, "127.0.0.1");
    EXPECT_EQ(calls[2].what, "warning");
    EXPECT_EQ(calls[3].what, "get 42");
    EXPECT_EQ(calls[4].what, "terminals");

    EXPECT_EQ(Outcome(c.Post("/api/v1/alerts", kXml, "text/plain")).first, 415);
    EXPECT_EQ(Outcome(c.Post("/api/v1/alerts", kXml, "application/json")).first, 415);
    EXPECT_EQ(Outcome(c.Post("/api/v1/warnings", "{}", "application/cap+xml")).first, 415);
    for (const char* path : {"/api/v1/warnings/0", "/api/v1/warnings/-3", "/api/v1/warnings/x1",
                             "/api/v1/warnings/99999999999999999999", "/api/v1/warnings/",
                             "/api/v1/terminals/", "/api/v2/terminals", "/"})
        EXPECT_EQ(Outcome(c.Get(path)), std::make_pair(404, std::string("not found"))) << path;
    const auto wrongMethod = c.Get("/api/v1/alerts");
    EXPECT_EQ(Outcome(wrongMethod), std::make_pair(405, std::string("method not allowed")));
    EXPECT_EQ(wrongMethod->get_header_value("Allow"), "POST");
    EXPECT_EQ(Outcome(c.Delete("/api/v1/terminals")).first, 405);
    EXPECT_EQ(Outcome(c.Post("/api/v1/terminals", "{}", "application/json")).first, 405);
    EXPECT_EQ(handler_.Count(), 5u);

    // The centre failing is an internal error, told in the log only.
    EXPECT_EQ(Outcome(c.Post("/api/v1/alerts", "throw", "application/xml")),
              std::make_pair(500, std::string("internal error")));
    handler_.alertAnswer = [](const std::string&) { return HttpAnswer{422, ""}; };
    EXPECT_EQ(Outcome(c.Post("/api/v1/alerts", kXml, "application/xml")).first, 422);
    server_.Stop();
    EXPECT_EQ(log_.Containing("→ 500 internal error（处理出错：the alert broke）"), 1u);

    const std::string token = NewToken();
    EXPECT_EQ(token.size(), 64u);
    EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_NE(token, NewToken());
}

TEST_F(GatewayServerTest, TokensAreCheckedAndRepeatedFailuresSlowed) {
    GatewayOptions o = Options();
    o.failedFree = 3;
    o.failedDelay = std::chrono::milliseconds(1);
    Start(o);

    const auto refused = Client("wrong").Get("/api/v1/terminals");
    EXPECT_EQ(Outcome(refused), std::make_pair(401, std::string("unauthorized")));
    EXPECT_EQ(refused->get_header_value("WWW-Authenticate"), "Bearer");
    EXPECT_EQ(Outcome(Client("").Post("/api/v1/alerts", kXml, "application/xml")).first, 401);
    httplib::Client basic = Client("");
    basic.set_basic_auth("user", kToken);
    EXPECT_EQ(Outcome(basic.Get("/nowhere")).first, 401);  // the token before the path
    EXPECT_EQ(Outcome(Client(std::string(kToken) + "x").Get("/api/v1/terminals")).first, 401);
    EXPECT_EQ(Outcome(Client("wrong").Get("/api/v1/terminals")).first, 401);
    EXPECT_EQ(handler_.Count(), 0u);
    // Three failures are free, the fourth and fifth were slowed; a good
    // token starts the count again.
    EXPECT_EQ(Outcome(Client().Get("/api/v1/terminals")).first, 200);
    EXPECT_EQ(Outcome(Client("wrong").Get("/api/v1/terminals")).first, 401);

    // A new token holds at once; an empty one refuses everything.
    server_.SetToken("renewed");
    EXPECT_EQ(Outcome(Client().Get("/api/v1/terminals")).first, 401);
    EXPECT_EQ(Outcome(Client("renewed").Get("/api/v1/terminals")).first, 200);
    server_.SetToken("");
    EXPECT_EQ(Outcome(Client("renewed").Get("/api/v1/terminals")).first, 401);
    EXPECT_EQ(Outcome(Client(" ").Get("/api/v1/terminals")).first, 401);
    server_.Stop();
    EXPECT_EQ(log_.Containing("（延迟 1 ms）"), 2u);
    EXPECT_EQ(handler_.Count(), 2u);

    // Stop does not wait out a slowed answer: the client's second failure
    // is slowed by an hour, and Stop comes while it waits or before.
    o.failedFree = 1;
    o.failedDelay = std::chrono::hours(1);
    Start(o);
    const std::size_t refusals = log_.Containing("→ 401");
    std::thread client([port = server_.Port()] {
        for (int i = 0; i < 2; ++i) {
            httplib::Client c("127.0.0.1", port);
            c.set_bearer_token_auth("wrong-" + std::to_string(i));
            c.Get("/api/v1/terminals");
        }
    });
    while (log_.Containing("→ 401") == refusals) std::this_thread::yield();
    server_.Stop();
    client.join();
    EXPECT_FALSE(server_.Running());
}

TEST_F(GatewayServerTest, BodiesOverTheBoundNeverReachTheCentre) {
    GatewayOptions o = Options();
    o.maxBody = 1000;
    Start(o);
    httplib::Client c = Client();
    EXPECT_EQ(Outcome(c.Post("/api/v1/alerts", std::string(1001, 'x'), "application/xml")),
              std::make_pair(413, std::string("request body too large")));
    const auto chunked = c.Post(
        "/api/v1/warnings",
        [](std::size_t offset, httplib::DataSink& sink) {
            if (offset >= 5000) return sink.done(), true;
            const std::string part(500, 'y');
            return sink.write(part.data(), part.size());
        },
        "application/json");
    EXPECT_EQ(Outcome(chunked).first, 413);
    // Refused for other reasons, a large body is read all the same, so that
    // the client is there to read the answer.
    EXPECT_EQ(Outcome(c.Post("/api/v1/nowhere", std::string(300000, 'x'), "application/xml")),
              std::make_pair(404, std::string("not found")));
    EXPECT_EQ(handler_.Count(), 0u);
    EXPECT_EQ(Outcome(c.Post("/api/v1/alerts", std::string(1000, 'x'), "application/xml")).first,
              202);
    EXPECT_EQ(handler_.Count(), 1u);
}

// What a raw request gets back, read until the server closes.
std::string Raw(int port, const std::string& request) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval bound{30, 0};  // a server that never answers fails the test
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    std::string answer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 &&
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
        char buffer[4096];
        ssize_t n = 0;
        while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) answer.append(buffer, n);
    }
    ::close(fd);
    return answer;
}

TEST_F(GatewayServerTest, LogsEveryRequestOnOneLineWithoutTheToken) {
    Start(Options());
    Client().Post("/api/v1/alerts", kXml, "application/cap+xml");
    Client("wrong-token").Get("/api/v1/terminals");
    Client().Get("/api/v1/warnings/%0a%1b%ff");
    Client().Post("/api/v1/alerts", kXml, "text/plain");

    // What no client library sends gets a JSON answer too.
    const std::string auth = std::string("Authorization: Bearer ") + kToken + "\r\n";
    EXPECT_NE(Raw(server_.Port(), "GARBAGE\r\n\r\n").find("{\"error\":\"bad request\"}"),
              std::string::npos);
    EXPECT_NE(Raw(server_.Port(), "GET /" + std::string(9000, 'a') + " HTTP/1.1\r\n\r\n")
                  .find("{\"error\":\"uri too long\"}"),
              std::string::npos);
    // A path too long for the library's patterns, with a body.
    EXPECT_NE(Raw(server_.Port(), "POST /" + std::string(8000, 'b') + " HTTP/1.1\r\n" + auth +
                                      "Content-Length: 3\r\n\r\nabc")
                  .find("{\"error\":\"not found\"}"),
              std::string::npos);
    // No length and no chunks: no body, not a wait for one.
    EXPECT_NE(Raw(server_.Port(), "POST /api/v1/alerts HTTP/1.1\r\n" + auth +
                                      "Content-Type: application/xml\r\n\r\n")
                  .find("HTTP/1.1 202"),
              std::string::npos);
    server_.Stop();

    // Each line is written once its answer is out, so not always in order.
    const std::vector<std::string> lines = log_.Lines();
    EXPECT_EQ(lines.size(), 8u);
    for (const auto& [line, times] : std::vector<std::pair<std::string, int>>{
             {"网关: 127.0.0.1 POST /api/v1/alerts → 202", 2},
             {"网关: 127.0.0.1 GET /api/v1/terminals → 401 unauthorized", 1},
             {"网关: 127.0.0.1 GET /api/v1/warnings/\\x0a\\x1b\\xff → 404 not found", 1},
             {"网关: 127.0.0.1 POST /api/v1/alerts → 415 Content-Type must be "
              "application/cap+xml or application/xml",
              1}})
        EXPECT_EQ(std::count(lines.begin(), lines.end(), line), times) << line;
    EXPECT_EQ(log_.Containing("网关: ? "), 2u);  // no address before the request is read
    for (const std::string& line : lines) {
        EXPECT_EQ(line.find(kToken), std::string::npos);
        EXPECT_EQ(line.find("wrong-token"), std::string::npos);
        EXPECT_LT(line.size(), 400u);
    }
    ASSERT_EQ(handler_.Count(), 2u);
    EXPECT_EQ(handler_.Calls()[1].body, "");
}

// A key and a self-signed certificate for "localhost", as PEM files.
void WriteCertificate(const fs::path& certificate, const fs::path& key) {
    EVP_PKEY* pkey = EVP_EC_gen("P-256");
    ASSERT_NE(pkey, nullptr);
    X509* x509 = X509_new();
    ASN1_INTEGER_set(X509_get_serialNumber(x509), 1);
    X509_gmtime_adj(X509_getm_notBefore(x509), 0);
    X509_gmtime_adj(X509_getm_notAfter(x509), 3600);
    X509_set_pubkey(x509, pkey);
    X509_NAME* name = X509_get_subject_name(x509);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
    X509_set_issuer_name(x509, name);
    ASSERT_GT(X509_sign(x509, pkey, EVP_sha256()), 0);
    FILE* out = std::fopen(certificate.c_str(), "wb");
    PEM_write_X509(out, x509);
    std::fclose(out);
    out = std::fopen(key.c_str(), "wb");
    PEM_write_PrivateKey(out, pkey, nullptr, nullptr, 0, nullptr, nullptr);
    std::fclose(out);
    X509_free(x509);
    EVP_PKEY_free(pkey);
}

TEST_F(GatewayServerTest, ServesHttpsWithItsCertificateAndTellsWhyNot) {
    const fs::path dir =
        fs::temp_directory_path() / ("pelmora-gateway-tls-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    WriteCertificate(dir / "cert.pem", dir / "key.pem");
    std::ofstream(dir / "garbage.pem") << "not a certificate\n";

    GatewayOptions o = Options();
    o.certificate = (dir / "cert.pem").string();
    o.key = (dir / "key.pem").string();
    Start(o);
    httplib::SSLClient tls("127.0.0.1", server_.Port());
    tls.enable_server_certificate_verification(false);
    tls.set_bearer_token_auth(kToken);
    EXPECT_EQ(Outcome(tls.Get("/api/v1/terminals")).first, 200);
    EXPECT_FALSE(Client().Get("/api/v1/terminals"));  // plain HTTP gets no answer
    server_.Stop();

    o.key = (dir / "missing.pem").string();
    EXPECT_NE(server_.Start(o).find("无法读取私钥"), std::string::npos);
    o.key = (dir / "garbage.pem").string();
    EXPECT_NE(server_.Start(o).find("证书或私钥不可用"), std::string::npos);
    o.key.clear();
    EXPECT_NE(server_.Start(o), "");
    EXPECT_FALSE(server_.Running());
    fs::remove_all(dir);
}

TEST_F(GatewayServerTest, StartsAgainAfterStopAndTellsWhenThePortIsTaken) {
    Start(Options());
    EXPECT_TRUE(server_.Running());
    const int port = server_.Port();
    EXPECT_GT(port, 0);

    FakeHandler otherHandler;
    GatewayServer other(otherHandler, nullptr);
    GatewayOptions same = Options();
    same.port = port;
    const std::string why = other.Start(same);
    EXPECT_NE(why.find(":" + std::to_string(port)), std::string::npos) << why;
    EXPECT_FALSE(other.Running());

    server_.Stop();
    EXPECT_FALSE(server_.Running());
    EXPECT_EQ(server_.Port(), 0);
    EXPECT_FALSE(httplib::Client("127.0.0.1", port).Get("/api/v1/terminals"));
    Start(same);  // the same port once more
    EXPECT_EQ(server_.Port(), port);
    EXPECT_EQ(Outcome(Client().Get("/api/v1/terminals")).first, 200);
}

TEST_F(GatewayServerTest, ManyClientsAtOnceAreAllAnswered) {
    Start(Options());
    constexpr int kClients = 10;
    constexpr int kEach = 5;
    std::atomic<int> accepted{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.emplace_back([&] {
            httplib::Client c = Client();
            for (int n = 0; n < kEach; ++n) {
                const auto r = c.Post("/api/v1/alerts", kXml, "application/xml");
                if (r && r->status == 202) ++accepted;
            }
        });
    }
    for (std::thread& t : clients) t.join();
    EXPECT_EQ(accepted, kClients * kEach);
    EXPECT_EQ(handler_.Count(), static_cast<std::size_t>(kClients * kEach));
}

}  // namespace
}  // namespace pelmora::gateway
