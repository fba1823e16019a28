// Alerts from an authority's system, posted over HTTP to the running window
// with simulated terminals that have regions and coordinates: each terminal
// gets the frames its area says, and only those; review, refusal, drills,
// updates, cancels, expired and repeated alerts, bad tokens and bad XML.
#include <httplib.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>

#include <nlohmann/json.hpp>

#include "FollowUps.h"
#include "GatewayActions.h"
#include "GbkCodec.h"
#include "RegistryKeeper.h"
#include "ReviewBar.h"
#include "WarningDesk.h"
#include "WarningWorkspace.h"
#include "WindowFixture.h"

namespace pelmora::testing {
namespace {

using nlohmann::json;

// Terminals: two in county 420102 (one by code only, without coordinates),
// one inside the polygon, one inside the circle, one far away.
constexpr std::uint32_t kByCode = 0x00A00001, kByCodeOffline = 0x00A00002, kInPolygon = 0x00A00003,
                        kInCircle = 0x00A00004, kFar = 0x00A00005;

struct Alert {
    std::string identifier;
    std::string status = "Actual";
    std::string msgType = "Alert";
    std::string severity = "Extreme";
    std::string expires = "2099-01-01T00:00:00+08:00";
    std::string area =
        "<geocode><valueName>行政区划代码</valueName><value>420102</value></geocode>";
    std::string references;
    std::string headline = "暴雨红色预警";
    std::string sent = "2026-12-10T08:00:00+08:00";
};

Alert Named(std::string identifier) {
    Alert a;
    a.identifier = std::move(identifier);
    return a;
}

std::string Xml(const Alert& a) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
        "<alert xmlns=\"urn:oasis:names:tc:emergency:cap:1.2\">"
        "<identifier>" +
        a.identifier + "</identifier><sender>whqxt@example.cn</sender><sent>" + a.sent +
        "</sent><status>" + a.status + "</status><msgType>" + a.msgType +
        "</msgType><scope>Public</scope>";
    if (!a.references.empty()) xml += "<references>" + a.references + "</references>";
    xml +=
        "<info><language>zh-CN</language><category>Met</category><event>暴雨</event>"
        "<urgency>Immediate</urgency><severity>" +
        a.severity + "</severity><certainty>Observed</certainty><expires>" + a.expires +
        "</expires><senderName>武汉市气象台</senderName><headline>" + a.headline +
        "</headline><instruction>请立即转移</instruction><area><areaDesc>江岸区</areaDesc>" +
        a.area + "</area></info></alert>";
    return xml;
}

class GatewayTest : public WindowTest {
  protected:
    void SetUp() override {
        gateway_ = true;
        WindowTest::SetUp();
        GatewaySettings g = settings_->gateway;
        g.autoDispatch = "Extreme+Immediate+Observed";
        settings_->StoreGatewaySettings(g);
        MakeFrame();  // with the settings
        std::vector<store::Terminal> registry;
        const auto add = [&](std::uint32_t id, std::string code, std::optional<double> lat,
                             std::optional<double> lon) {
            store::Terminal t;
            t.deviceId = id;
            t.regionCode = std::move(code);
            t.latitude = lat;
            t.longitude = lon;
            registry.push_back(t);
        };
        add(kByCode, "420102001", std::nullopt, std::nullopt);
        add(kByCodeOffline, "420102002", std::nullopt, std::nullopt);
        add(kInPolygon, "420106", 30.55, 114.30);
        add(kInCircle, "420111", 30.45, 114.40);
        add(kFar, "420200", 30.20, 115.00);
        frame_->Keeper().Replace(registry);
        frame_->StartService();
        ASSERT_TRUE(frame_->Gateway()->Running());
        StartSimulator();
        for (const std::uint32_t id : {kByCode, kInPolygon, kInCircle, kFar})
            index_[id] = AddTerminal(id);
        ASSERT_TRUE(Pump([] { return DSGetModemCount() == 4; }));
        frame_->Refresh();
        client_ = std::make_unique<httplib::Client>("127.0.0.1", frame_->Gateway()->Port());
        client_->set_bearer_token_auth(settings_->gateway.token.toStdString());
    }

    // The answer comes from the server's thread; what it queues for the
    // window runs when the test pumps.
    std::pair<int, json> Post(const std::string& path, const std::string& body,
                              const char* type = "application/cap+xml") {
        const auto result = client_->Post(path, body, type);
        if (!result) return {0, json()};
        return {result->status, json::parse(result->body, nullptr, false)};
    }
    json Get(const std::string& path) {
        auto result = client_->Get(path);
        return result ? json::parse(result->body, nullptr, false) : json();
    }
    // The play-content frames a terminal got holding this text.
    int Got(std::uint32_t id, const std::string& utf8) {
        const std::string gbk = Utf8ToGbk(utf8).value();
        int count = 0;
        for (const auto& m : sim_->Messages(index_[id]))
            if (std::string(m.begin(), m.end()).find(gbk) != std::string::npos) ++count;
        return count;
    }
    std::size_t Frames() {
        std::size_t all = 0;
        for (const auto& [id, index] : index_) all += sim_->Messages(index).size();
        return all;
    }

    std::map<std::uint32_t, std::size_t> index_;
    std::unique_ptr<httplib::Client> client_;
};

const std::string kPolygon =
    "<polygon>30.50,114.25 30.60,114.25 30.60,114.35 30.50,114.35 30.50,114.25</polygon>";
const std::string kCircle = "<circle>30.45,114.40 2</circle>";
const std::string kCode =
    "<geocode><valueName>行政区划代码</valueName><value>420102</value></geocode>";

TEST_F(GatewayTest, EachTerminalGetsWhatItsAreaSaysOnceAndStatusesAndMessageTypesAreKept) {
    Alert first = Named("W-1");
    first.area = kCode + kPolygon + kCircle;
    auto [status, answer] = Post("/api/v1/alerts", Xml(first));
    ASSERT_EQ(status, 202) << answer.dump();
    EXPECT_EQ(answer["identifier"], "W-1");
    EXPECT_EQ(answer["state"], "dispatched");
    EXPECT_EQ(answer["terminals"], 4) << "the offline one by code counts too";
    const std::string content = "【武汉市气象台】暴雨红色预警。请立即转移";
    ASSERT_TRUE(Pump([&] {
        return Got(kByCode, content) == 1 && Got(kInPolygon, content) == 1 &&
               Got(kInCircle, content) == 1;
    }));
    WaitIdle();
    EXPECT_EQ(Got(kFar, content), 0);
    const std::int64_t warning = answer["warning"];

    // Posted again: the first answer, nothing new sent.
    const std::size_t before = Frames();
    auto [again, repeated] = Post("/api/v1/alerts", Xml(first));
    EXPECT_EQ(again, 202);
    EXPECT_EQ(repeated["warning"], warning);
    EXPECT_EQ(repeated["state"], "dispatched");
    ASSERT_TRUE(frame_->Store().Flush());
    const json record = Get("/api/v1/warnings/" + std::to_string(warning));
    EXPECT_EQ(record["content"], content);
    EXPECT_EQ(record["identifier"], "W-1");
    EXPECT_FALSE(record["drill"].get<bool>());
    EXPECT_NE(record["xml"].get<std::string>().find("<identifier>W-1"), std::string::npos);
    std::map<std::string, std::string> outcomes;
    for (const json& t : record["terminals"]) outcomes[t["device_id"]] = t["outcome"];
    EXPECT_EQ(outcomes, (std::map<std::string, std::string>{{"00a00001", "成功"},
                                                            {"00a00002", "离线"},
                                                            {"00a00003", "成功"},
                                                            {"00a00004", "成功"}}));
    EXPECT_EQ(frame_->Gateway()->Desk().FindAlert("whqxt@example.cn", "W-1", first.sent), warning);

    // A drill: sent with the drill text in front, and recorded as one.
    Alert drill = Named("W-2");
    drill.status = "Exercise";
    drill.area = kPolygon;
    drill.headline = "演习";
    auto [drillStatus, drillAnswer] = Post("/api/v1/alerts", Xml(drill));
    EXPECT_EQ(drillAnswer["state"], "dispatched");
    ASSERT_TRUE(Pump([&] { return Got(kInPolygon, "【演练】【武汉市气象台】演习。") == 1; }));
    WaitIdle();
    ASSERT_TRUE(frame_->Store().Flush());
    EXPECT_TRUE(
        Get("/api/v1/warnings/" + std::to_string(drillAnswer["warning"].get<int>()))["drill"]
            .get<bool>());

    Alert test = Named("W-2T");
    test.status = "Test";
    test.area = kCircle;
    test.headline = "测试";
    EXPECT_EQ(Post("/api/v1/alerts", Xml(test)).second["state"], "dispatched");
    ASSERT_TRUE(Pump([&] { return Got(kInCircle, "【演练】【武汉市气象台】测试。") == 1; }));
    WaitIdle();

    // Kept, never played: a system message, an expired alert, a cancel.
    const std::size_t sent = Frames();
    Alert system = Named("W-3");
    system.status = "System";
    EXPECT_EQ(Post("/api/v1/alerts", Xml(system)).second["state"], "recorded");
    Alert expired = Named("W-4");
    expired.expires = "2020-01-01T00:00:00+08:00";
    EXPECT_EQ(Post("/api/v1/alerts", Xml(expired)).second["state"], "recorded");
    // The offline terminal is owed the first alert until a cancel ends it.
    const auto owed = [&] {
        std::size_t count = 0;
        for (const store::FollowUp& f : frame_->FollowUps().Pending())
            count += f.warningId == warning ? 1 : 0;
        return count;
    };
    ASSERT_EQ(owed(), 1u);
    Alert cancel = Named("W-5");
    cancel.msgType = "Cancel";
    cancel.references =
        "whqxt@example.cn,W-1," + first.sent + " other@example.cn,X-9," + first.sent;
    auto [cancelStatus, cancelled] = Post("/api/v1/alerts", Xml(cancel));
    EXPECT_EQ(cancelled["state"], "recorded");
    EXPECT_EQ(owed(), 0u);
    ASSERT_TRUE(frame_->Store().Flush());
    const json cancelRecord =
        Get("/api/v1/warnings/" + std::to_string(cancelled["warning"].get<int>()));
    EXPECT_NE(cancelRecord["note"].get<std::string>().find("X-9"), std::string::npos)
        << "a reference never received is recorded as such";
    // An update: a new warning for its own area only.
    Alert update = Named("W-6");
    update.msgType = "Update";
    update.area = kCircle;
    update.headline = "暴雨橙色预警";
    update.references = "whqxt@example.cn,W-1," + first.sent;
    EXPECT_EQ(Post("/api/v1/alerts", Xml(update)).second["terminals"], 1);
    ASSERT_TRUE(Pump([&] { return Got(kInCircle, "暴雨橙色预警") == 1; }));
    WaitIdle();
    EXPECT_EQ(Frames(), sent + 1) << "nothing else was sent";
    EXPECT_GT(sent, before) << "the drill";
}

TEST_F(GatewayTest, AnAlertBelowThePolicyWaitsAndIsEditedThenSentOrRefused) {
    Alert severe = Named("R-1");
    severe.severity = "Severe";
    severe.area = kPolygon;
    auto [status, answer] = Post("/api/v1/alerts", Xml(severe));
    EXPECT_EQ(answer["state"], "review");
    Alert other = Named("R-2");
    other.severity = "Moderate";
    other.area = kCircle;
    EXPECT_EQ(Post("/api/v1/alerts", Xml(other)).second["state"], "review");
    WarningWorkspace& form = frame_->Warning();
    ReviewBar& bar = *form.Reviews();
    ASSERT_TRUE(Pump([&] { return bar.List()->count() == 2; }));
    EXPECT_TRUE(bar.isVisibleTo(&form));
    EXPECT_EQ(Frames(), 0u) << "nothing goes before the operator";

    // Taken into the form, edited, and sent with the usual confirmation.
    ASSERT_TRUE(form.TakeReview(answer["warning"]));
    EXPECT_EQ(form.Content()->toPlainText(), "【武汉市气象台】暴雨红色预警。请立即转移");
    EXPECT_EQ(form.Targets(), std::vector<std::uint32_t>{kInPolygon});
    form.Content()->setPlainText("暴雨红色预警, 沿江人员请转移");
    form.PublishButton()->click();
    ASSERT_TRUE(Pump([&] { return Got(kInPolygon, "暴雨红色预警, 沿江人员请转移") == 1; }));
    WaitIdle();
    ASSERT_TRUE(form.ShowingOutcomes());
    ASSERT_TRUE(frame_->Store().Flush());
    const json record = Get("/api/v1/warnings/" + std::to_string(answer["warning"].get<int>()));
    EXPECT_EQ(record["state"], "dispatched");
    EXPECT_EQ(record["content"], "暴雨红色预警, 沿江人员请转移");

    // The other is refused: kept, never sent.
    ASSERT_TRUE(Pump([&] { return bar.List()->count() == 1; }));
    bar.RefuseButton()->click();
    ASSERT_TRUE(Pump([&] { return bar.List()->count() == 0; }));
    EXPECT_FALSE(bar.isVisibleTo(&form));
    EXPECT_EQ(Got(kInCircle, "暴雨"), 0);
    ASSERT_TRUE(frame_->Store().Flush());
    EXPECT_EQ(Post("/api/v1/alerts", Xml(other)).second["state"], "refused");
}

TEST_F(GatewayTest, BadTokensBadXmlAndDraftsSendNothingAndTheInboxSortsItsFiles) {
    Alert good = Named("B-1");
    httplib::Client stranger("127.0.0.1", frame_->Gateway()->Port());
    stranger.set_bearer_token_auth("not-the-token");
    const auto refused = stranger.Post("/api/v1/alerts", Xml(good), "application/cap+xml");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 401);
    auto [bad, badAnswer] =
        Post("/api/v1/alerts",
             "<alert xmlns=\"urn:oasis:names:tc:emergency:cap:1.2\"><identifier>x</identifier>");
    EXPECT_EQ(bad, 400);
    Alert draft = Named("B-2");
    draft.status = "Draft";
    auto [draftStatus, draftAnswer] = Post("/api/v1/alerts", Xml(draft));
    EXPECT_EQ(draftStatus, 400);
    EXPECT_NE(draftAnswer["error"].get<std::string>().find("status"), std::string::npos);
    QCoreApplication::processEvents();
    EXPECT_EQ(Frames(), 0u);
    EXPECT_TRUE(Log().contains(QStringLiteral("网关拒绝")));

    // The token's file is its owner's alone, also after other settings are written.
    settings_->StorePort(settings_->port);
    settings_->Sync();
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                            QFileDevice::ReadOther | QFileDevice::WriteOther;
    EXPECT_FALSE(QFile::permissions(dir_.filePath("settings.ini")) & others);

    // A plain warning, for systems that do not speak CAP: it waits.
    auto [plain, plainAnswer] = Post(
        "/api/v1/warnings",
        R"({"content":"停水通知","targets":{"regions":["420102"],"devices":["00a00004"]},"validity_s":600})",
        "application/json");
    EXPECT_EQ(plain, 202);
    EXPECT_EQ(plainAnswer["state"], "review");
    EXPECT_EQ(plainAnswer["terminals"], 3);

    // The registry for map systems.
    const json terminals = Get("/api/v1/terminals");
    ASSERT_EQ(terminals.size(), 5u);
    EXPECT_EQ(terminals[0]["device_id"], "00a00001");
    EXPECT_TRUE(terminals[0]["online"].get<bool>());
    EXPECT_FALSE(terminals[1]["online"].get<bool>());
    EXPECT_EQ(terminals[2]["latitude"], 30.55);

    // The inbox: a good file is taken, a bad one set aside with its reason.
    const QDir inbox(dir_.filePath("inbox"));
    ASSERT_TRUE(Pump([&] { return inbox.exists(); }, std::chrono::seconds(3)));
    const auto drop = [&](const QString& name, const std::string& body) {
        QFile file(inbox.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(body.data(), static_cast<qint64>(body.size()));
        file.close();
        file.setFileTime(QDateTime::currentDateTime().addSecs(-60),
                         QFileDevice::FileModificationTime);
    };
    Alert filed = Named("I-1");
    filed.area = kCircle;
    drop("a.xml", Xml(filed));
    drop("b.xml", "not xml");
    ASSERT_TRUE(
        Pump([&] { return QFile::exists(inbox.filePath("done/a.xml")); }, std::chrono::seconds(5)));
    ASSERT_TRUE(Pump([&] { return QFile::exists(inbox.filePath("rejected/b.xml.reason")); },
                     std::chrono::seconds(5)));
    ASSERT_TRUE(Pump([&] { return Got(kInCircle, "暴雨红色预警") == 1; }));
    WaitIdle();
}

}  // namespace
}  // namespace pelmora::testing
