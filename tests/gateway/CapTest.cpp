// The gateway without a network: an authority's alert read whole, broken and
// hostile documents refused with the element at fault, the terminals an
// alert's area takes, and the content and policy made from it.
#include <gtest/gtest.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "AreaMatch.h"
#include "Cap.h"
#include "CapContent.h"

namespace pelmora::gateway {
namespace {

const std::string kAlert = R"(<?xml version="1.0" encoding="UTF-8"?>
<alert xmlns="urn:oasis:names:tc:emergency:cap:1.2">
  <identifier>42000041600000_20261210083000</identifier>
  <sender>qxt@hb.example.cn</sender>
  <sent>2026-12-10T08:30:00+08:00</sent>
  <status>Actual</status>
  <msgType>Update</msgType>
  <scope>Public</scope>
  <references>qxt@hb.example.cn,42000041600000_20261210070000,2026-12-10T07:00:00+08:00
    qxt@hb.example.cn,42000041600000_20261209220000,2026-12-09T22:00:00-00:00</references>
  <info>
    <category>Met</category>
    <event>Rainstorm</event>
    <urgency>Immediate</urgency>
    <severity>Extreme</severity>
    <certainty>Observed</certainty>
    <headline>Red rainstorm warning</headline>
    <area><areaDesc>Jiang'an</areaDesc></area>
  </info>
  <info>
    <language>zh-CN</language>
    <category>Met</category>
    <category>Safety</category>
    <event>暴雨</event>
    <responseType>Shelter</responseType>
    <urgency>Immediate</urgency>
    <severity>Extreme</severity>
    <certainty>Observed</certainty>
    <eventCode><valueName>预警类型</valueName><value>11B03</value></eventCode>
    <effective>2026-12-10T08:30:00+08:00</effective>
    <expires>2026-12-11T08:30:00+08:00</expires>
    <senderName>  湖北省气象台 </senderName>
    <headline>暴雨红色预警</headline>
    <description>过去3小时降雨量将达100毫米以上<![CDATA[，且 <降雨> 将持续]]> &amp; 加强。</description>
    <instruction>请立即转移到安全地带。</instruction>
    <parameter><valueName>颜色</valueName><value>红色</value></parameter>
    <area>
      <areaDesc>江岸区</areaDesc>
      <geocode><valueName>行政区划代码</valueName><value>420102</value></geocode>
      <geocode><valueName>行政区划代码</valueName><value>420105001</value></geocode>
    </area>
    <area>
      <areaDesc>汉阳区</areaDesc>
      <polygon>30.50,114.20 30.60,114.20
               30.60,114.30 30.50,114.30 30.50,114.20</polygon>
      <circle>30.55,114.25 5.5</circle>
    </area>
  </info>
</alert>
)";

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    const auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

TEST(Cap, RealShapedAlertIsReadWhole) {
    const CapParse parsed = ParseCap(kAlert);
    ASSERT_TRUE(parsed.alert) << parsed.error;
    EXPECT_EQ(parsed.error, "");
    const CapAlert& alert = *parsed.alert;
    EXPECT_EQ(alert.identifier, "42000041600000_20261210083000");
    EXPECT_EQ(alert.sender, "qxt@hb.example.cn");
    EXPECT_EQ(alert.sent, "2026-12-10T08:30:00+08:00");
    EXPECT_EQ(alert.sentAt, 1'796'862'600);  // 00:30 UTC
    EXPECT_EQ(alert.msgType, "Update");
    ASSERT_EQ(alert.references.size(), 2u);
    EXPECT_EQ(alert.references[1],
              (CapReference{"qxt@hb.example.cn", "42000041600000_20261209220000",
                            "2026-12-09T22:00:00-00:00"}));
    ASSERT_EQ(alert.infos.size(), 2u);
    EXPECT_EQ(alert.infos[0].language, "en-US");  // absent: the default

    const CapInfo* info = PreferredInfo(alert);
    ASSERT_EQ(info, &alert.infos[1]);
    EXPECT_EQ(info->categories, (std::vector<std::string>{"Met", "Safety"}));
    EXPECT_EQ(info->senderName, "湖北省气象台");
    EXPECT_EQ(info->description, "过去3小时降雨量将达100毫米以上，且 <降雨> 将持续 & 加强。");
    EXPECT_EQ(info->effectiveAt, alert.sentAt);
    EXPECT_EQ(info->expiresAt, alert.sentAt + 86400);
    ASSERT_EQ(info->areas.size(), 2u);
    EXPECT_EQ(info->areas[0].geocodes[1], (CapGeocode{"行政区划代码", "420105001"}));
    ASSERT_EQ(info->areas[1].polygons.size(), 1u);
    EXPECT_EQ(info->areas[1].polygons[0].size(), 5u);
    EXPECT_EQ(info->areas[1].polygons[0][2], (CapPoint{30.60, 114.30}));
    EXPECT_EQ(info->areas[1].circles, (std::vector<CapCircle>{{{30.55, 114.25}, 5.5}}));

    // The most points a polygon may have, to six decimals: some 21 KiB of text.
    std::string ring;
    for (int i = 0; i < 999; ++i) ring += "30.123456,114." + std::to_string(100'000 + i) + " ";
    ring += "30.123456,114.100000";
    const CapParse largest = ParseCap(Replaced(
        kAlert, "30.50,114.20 30.60,114.20\n               30.60,114.30 30.50,114.30 30.50,114.20",
        ring));
    ASSERT_TRUE(largest.alert) << largest.error;
    EXPECT_EQ(largest.alert->infos[1].areas[1].polygons[0].size(), kCapMaxPolygonPoints);

    // The same alert under a namespace prefix reads the same.
    std::string prefixed = Replaced(kAlert, "<alert xmlns=", "<cap:alert xmlns:cap=");
    prefixed = Replaced(prefixed, "</alert>", "</cap:alert>");
    for (std::size_t at = prefixed.find('<', prefixed.find("<cap:alert") + 1);
         at != std::string::npos; at = prefixed.find('<', at + 1)) {
        if (prefixed.compare(at, 9, "<![CDATA[") == 0) {
            at = prefixed.find("]]>", at);
            continue;
        }
        const std::size_t name = prefixed[at + 1] == '/' ? at + 2 : at + 1;
        if (prefixed.compare(name, 4, "cap:") != 0) prefixed.insert(name, "cap:");
    }
    const CapParse again = ParseCap(prefixed);
    ASSERT_TRUE(again.alert) << again.error;
    EXPECT_EQ(again.alert->infos[1].areas[1].circles, info->areas[1].circles);
    EXPECT_EQ(again.alert->references, alert.references);
}

TEST(Cap, TimesTakeOnlyTheFormWithANumericZone) {
    EXPECT_EQ(ParseCapTime("1970-01-01T08:00:00+08:00"), 0);
    EXPECT_EQ(ParseCapTime("2028-02-29T23:59:59-00:00"), 1'835'481'599);
    EXPECT_EQ(ParseCapTime("1969-12-31T19:00:00-05:00"), 0);
    for (const char* bad :
         {"2026-12-10T08:30:00Z", "2026-12-10T08:30:00.5+08:00", "2026-12-10T08:30:00",
          "2026-12-10 08:30:00+08:00", "2027-02-29T00:00:00+08:00", "2026-13-01T00:00:00+08:00",
          "2026-12-10T24:00:00+08:00", "2026-12-10T08:30:00+15:00", "2026-12-10T08:30:60+08:00",
          "２026-12-10T08:30:00+08:00", ""})
        EXPECT_FALSE(ParseCapTime(bad)) << bad;
}

TEST(Cap, MalformedAndHostileDocumentsAreRefusedNamingTheElement) {
    std::string polygon1001;
    for (int i = 0; i < 1000; ++i) polygon1001 += "30." + std::to_string(i) + ",114.1 ";
    polygon1001 += "30.0,114.1";
    std::string deep = "<parameter>";
    for (int i = 0; i < 20; ++i) deep += "<x>";
    for (int i = 0; i < 20; ++i) deep += "</x>";
    const std::string polygon =
        "<polygon>30.50,114.20 30.60,114.20\n               30.60,114.30 "
        "30.50,114.30 30.50,114.20</polygon>";
    const struct {
        std::string document;
        std::string error;  // what the error begins with
    } cases[] = {
        {Replaced(kAlert, "<identifier>42000041600000_20261210083000</identifier>", ""),
         "identifier: missing"},
        {Replaced(kAlert, "<sender>qxt@hb.example.cn", "<sender>qxt hb"),
         "sender: \"qxt hb\" contains a space"},
        {Replaced(kAlert, "<status>Actual", "<status>Drafted"),
         "status: \"Drafted\" is not a CAP status"},
        {Replaced(kAlert, "<scope>Public</scope>", "<scope>Public</scope><scope>Public</scope>"),
         "scope: more than once"},
        {Replaced(kAlert, "<sent>2026-12-10T08:30:00+08:00", "<sent>2026-12-10T08:30:00Z"),
         "sent: \"2026-12-10T08:30:00Z\" is not a date and time"},
        {Replaced(kAlert, ",2026-12-10T07:00:00+08:00", ""), "references: \"qxt@hb.example.cn,"},
        {Replaced(kAlert, "<expires>2026-12-11", "<expires>2026-12-32"),
         "info[2]/expires: \"2026-12-32"},
        {Replaced(kAlert, "<category>Safety", "<category>Weather"),
         "info[2]/category: \"Weather\" is not a CAP category"},
        {Replaced(kAlert, "<urgency>Immediate</urgency>", ""), "info[1]/urgency: missing"},
        {Replaced(kAlert, "<areaDesc>汉阳区</areaDesc>", ""), "info[2]/area[2]/areaDesc: missing"},
        {Replaced(kAlert, "30.50,114.30 30.50,114.20<", "30.50,114.30<"),
         "info[2]/area[2]/polygon: not closed"},
        {Replaced(kAlert, polygon, "<polygon>30.5,114.2 30.6,114.2 30.5,114.2</polygon>"),
         "info[2]/area[2]/polygon: fewer than 4 points"},
        {Replaced(kAlert, polygon, "<polygon>" + polygon1001 + "</polygon>"),
         "info[2]/area[2]/polygon: more than 1000 points"},
        {Replaced(kAlert, "30.60,114.20", "91.5,114.20"),
         "info[2]/area[2]/polygon: latitude \"91.5\" out of range"},
        {Replaced(kAlert, "30.55,114.25 5.5", "30.55,nan 5.5"),
         "info[2]/area[2]/circle: \"30.55,nan\" is not a latitude,longitude pair"},
        {Replaced(kAlert, "30.55,114.25 5.5", "30.55,114.25 -1"),
         "info[2]/area[2]/circle: radius \"-1\""},
        {Replaced(kAlert, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>",
                  "<!DOCTYPE alert [<!ENTITY x \"xx\">]>"),
         "alert: a DOCTYPE is not accepted"},
        {Replaced(kAlert, "<parameter>", deep),
         "info[2]/parameter[1]/x[1]/x[1]/x[1]/x[1]/x[1]/x[1]/x[1]/x[1]/x[1]/x[1]/x[1]/x[1]/x[1]/x: "
         "nested deeper than 16 elements"},
        {Replaced(kAlert, "cap:1.2", "cap:1.1"),
         "alert: namespace \"urn:oasis:names:tc:emergency:cap:1.1\" is not CAP 1.2"},
        {Replaced(kAlert, " xmlns=\"urn:oasis:names:tc:emergency:cap:1.2\"", ""),
         "alert: not in the CAP 1.2 namespace"},
        {Replaced(Replaced(kAlert, "<alert ", "<warning "), "</alert>", "</warning>"),
         "alert: missing (the root element is"},
        {Replaced(kAlert, "</info>\n</alert>", "</alert>"), "alert: not XML ("},
        {Replaced(kAlert, "暴雨红色预警", "\xB1\xA9\xD3\xEA"), "alert: not UTF-8 (at byte "},
        {Replaced(kAlert, "UTF-8", "GB2312"), "alert: encoding \"GB2312\" is not UTF-8"},
        {Replaced(kAlert, "<headline>暴雨", "<headline>&#xD800;"),
         "info[2]/headline: not valid UTF-8"},
        {Replaced(kAlert, "<instruction>", "<instruction>" + std::string(kCapMaxText, 'x')),
         "info[2]/instruction: longer than 16384 bytes"},
        {kAlert + std::string(kCapMaxBytes, ' '), "alert: document of "},
    };
    for (const auto& c : cases) {
        const CapParse parsed = ParseCap(c.document);
        EXPECT_FALSE(parsed.alert) << c.error;
        EXPECT_EQ(parsed.error.substr(0, c.error.size()), c.error) << parsed.error;
    }
}

store::Terminal At(std::uint32_t id, std::string code, std::optional<double> latitude = {},
                   std::optional<double> longitude = {}) {
    store::Terminal terminal;
    terminal.deviceId = id;
    terminal.regionCode = std::move(code);
    terminal.latitude = latitude;
    terminal.longitude = longitude;
    return terminal;
}

std::unordered_map<std::uint32_t, store::Terminal> Registry(std::vector<store::Terminal> list) {
    std::unordered_map<std::uint32_t, store::Terminal> registry;
    for (auto& terminal : list) registry.emplace(terminal.deviceId, std::move(terminal));
    return registry;
}

CapAlert WithAreas(std::vector<CapArea> areas) {
    CapAlert alert;
    alert.infos.emplace_back().areas = std::move(areas);
    return alert;
}

TEST(AreaMatch, GeocodesTakeEveryTerminalUnderTheirRegionCode) {
    const auto registry = Registry({
        At(1, "420102001001", 10, 10),  // a village of the county
        At(2, "420102"),                // the county itself, no coordinates
        At(3, "420103001001"),          // the next county
        At(4, "4201"),                  // the city above: not taken
        At(5, "420105001002"),
        At(6, ""),
    });
    CapArea area;
    area.geocodes = {{"行政区划代码", "420102"},
                     {"行政区划代码", "420105001"},
                     {"行政区划代码", "4201020"},  // under 420102: changes nothing
                     {"行政区划代码", ""},         // takes nothing
                     {"ADCODE", "420103"}};        // another kind: ignored
    EXPECT_EQ(MatchArea(WithAreas({area}), registry), (std::vector<std::uint32_t>{1, 2, 5}));
    EXPECT_EQ(MatchArea(WithAreas({area}), registry, "ADCODE"), (std::vector<std::uint32_t>{3}));
    EXPECT_EQ(MatchArea(CapAlert{}, registry), std::vector<std::uint32_t>{});
}

TEST(AreaMatch, ShapesTakeTerminalsByCoordinatesAndTheUnionIsSortedOnce) {
    // A U: the notch between longitudes 1 and 2 above latitude 1 is outside.
    const std::vector<CapPoint> u = {{0, 0}, {0, 3}, {3, 3}, {3, 2}, {1, 2},
                                     {1, 1}, {3, 1}, {3, 0}, {0, 0}};
    EXPECT_TRUE(InPolygon({2, 0.5}, u));
    EXPECT_TRUE(InPolygon({0.5, 1.5}, u));
    EXPECT_FALSE(InPolygon({2, 1.5}, u));    // in the notch
    EXPECT_TRUE(InPolygon({1.5, 1}, u));     // on the notch's edge
    EXPECT_TRUE(InPolygon({3, 3}, u));       // a corner
    EXPECT_FALSE(InPolygon({3.1, 0.5}, u));  // beside it
    // 10 km around a point at latitude 30: a longitude degree there is shorter.
    const CapCircle circle{{30, 114}, 10};
    EXPECT_TRUE(InCircle({30.089, 114}, circle));
    EXPECT_FALSE(InCircle({30.091, 114}, circle));
    EXPECT_TRUE(InCircle({30, 114.1}, circle));  // 9.6 km east

    const auto registry = Registry({
        At(7, "1", 2, 0.5),     // in the U
        At(8, "2", 2, 1.5),     // in the notch
        At(9, "3", 30, 114.1),  // in the circle
        At(10, "4"),            // no coordinates: only by code
        At(11, "5", 2, 0.5),    // in the U, and by code
        At(12, "6", std::nullopt, 0.5),
    });
    CapArea polygonArea, circleArea, codeArea;
    polygonArea.polygons = {u};
    circleArea.circles = {circle};
    codeArea.geocodes = {{kDefaultGeocodeName, "5"}};
    CapAlert alert = WithAreas({polygonArea, codeArea});
    alert.infos.emplace_back().areas = {circleArea, polygonArea};
    EXPECT_EQ(MatchArea(alert, registry), (std::vector<std::uint32_t>{7, 9, 11}));
}

TEST(CapContent, TemplateTakesThePreferredInfosText) {
    CapInfo info;
    info.senderName = "湖北省气象台";
    info.headline = "暴雨红色预警";
    info.instruction = "请立即转移到\n  安全地带。";
    info.event = "暴雨";
    info.effective = "2026-12-10T08:30:00+08:00";
    info.areas.resize(3);
    info.areas[0].areaDesc = "江岸区";
    info.areas[2].areaDesc = "汉阳区";
    EXPECT_EQ(FillTemplate(kDefaultTemplate, info),
              "【湖北省气象台】暴雨红色预警。请立即转移到 安全地带。");
    EXPECT_EQ(FillTemplate("  {event}{description}:{areaDesc} {effective}{expires}\t", info),
              "暴雨:江岸区、汉阳区 2026-12-10T08:30:00+08:00");
    // Unknown names and loose braces stay; a value's own braces are not read.
    info.headline = "{event}";
    EXPECT_EQ(FillTemplate("{{headline}} {name} {headline", info), "{{event}} {name} {headline");
    EXPECT_EQ(FillTemplate("", info), "");
}

TEST(CapContent, AutoDispatchReadsItsCombinationsAndRefusesBadOnes) {
    std::string error = "stale";
    const AutoDispatch policy =
        AutoDispatch::Parse(" Extreme+Immediate+Observed ; Severe + Immediate + Likely;", &error);
    EXPECT_EQ(error, "");
    EXPECT_FALSE(policy.Empty());
    CapInfo info;
    info.severity = "Severe";
    info.urgency = "Immediate";
    info.certainty = "Likely";
    EXPECT_TRUE(policy.Allows(info));
    info.certainty = "likely";  // as CAP writes them, case and all
    EXPECT_FALSE(policy.Allows(info));
    info.certainty = "Observed";
    EXPECT_FALSE(policy.Allows(info));

    EXPECT_TRUE(AutoDispatch::Parse("", &error).Empty());
    EXPECT_EQ(error, "");
    const struct {
        const char* text;
        const char* error;
    } bad[] = {
        {"Extreme+Immediate+Observed;Extreme+Now+Observed",
         "\"Extreme+Now+Observed\": \"Now\" is not a CAP urgency"},
        {"Immediate+Extreme+Observed",
         "\"Immediate+Extreme+Observed\": \"Immediate\" is not a CAP severity"},
        {"Extreme+Immediate+observed",
         "\"Extreme+Immediate+observed\": \"observed\" is not a CAP certainty"},
        {"Extreme+Immediate", "\"Extreme+Immediate\": three words joined by + are needed"},
        {"Extreme+Immediate+Observed+", "\"Extreme+Immediate+Observed+\": three words"},
    };
    for (const auto& c : bad) {
        const AutoDispatch refused = AutoDispatch::Parse(c.text, &error);
        EXPECT_TRUE(refused.Empty()) << c.text;
        EXPECT_EQ(error.substr(0, std::string(c.error).size()), c.error);
    }
}

}  // namespace
}  // namespace pelmora::gateway
