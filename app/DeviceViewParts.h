// The device list's words and the small helpers its files share: the
// online and power words, ID and address texts, regions and tags.
#pragma once

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "CommandTexts.h"
#include "Dovrik.h"
#include "GbkCodec.h"
#include "Store.h"

namespace pelmora::device_list {

inline const QString& OnlineWord() {
    static const QString word = QStringLiteral("在线");
    return word;
}
inline const QString& BatteryWord() {
    static const QString word = QString::fromStdString(GbkToUtf8Lossy(text::kBatteryPower));
    return word;
}
inline const QString& OfflineWord() {
    static const QString word = QStringLiteral("离线");
    return word;
}
inline const QString& NeverOnlineWord() {
    static const QString word = QStringLiteral("从未上线");
    return word;
}
inline const QString& UnknownPowerWord() {
    static const QString word = QStringLiteral("未知");
    return word;
}

// "%08x", written by hand: a refresh formats the ID of every registered
// terminal to find its row, and a format parse for each was a good part of
// the refresh's time.
inline QString IdTextOf(std::uint32_t id) {
    static constexpr char kDigits[] = "0123456789abcdef";
    QString text(8, Qt::Uninitialized);
    QChar* out = text.data();
    for (int i = 7; i >= 0; --i, id >>= 4) out[i] = QLatin1Char(kDigits[id & 0xF]);
    return text;
}

inline QString AddressText(const ModemInfo& info) {
    return QString::asprintf("%u.%u.%u.%u", info.ipAddress[0], info.ipAddress[1], info.ipAddress[2],
                             info.ipAddress[3]);
}

inline QString SimText(const ModemInfo& info) {
    return QString::fromLatin1(info.simNumber,
                               static_cast<int>(strnlen(info.simNumber, sizeof info.simNumber)));
}

// A region is known by its code, or by its name when it has none.
inline const std::string& RegionKey(const store::Terminal& t) {
    return t.regionCode.empty() ? t.regionName : t.regionCode;
}

// What the region column shows: the name, or the code when there is none.
inline const std::string& RegionShown(const store::Terminal& t) {
    return t.regionName.empty() ? t.regionCode : t.regionName;
}

inline std::string_view Trimmed(std::string_view text) {
    const auto space = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && space(text.front())) text.remove_prefix(1);
    while (!text.empty() && space(text.back())) text.remove_suffix(1);
    return text;
}

// Calls `each` with every tag of the ';'-separated list, trimmed, skipping
// empty ones; stops when it returns true, and says whether it did.
template <typename Each>
bool ForEachTag(std::string_view tags, Each each) {
    while (!tags.empty()) {
        const std::size_t end = std::min(tags.find(';'), tags.size());
        const std::string_view tag = Trimmed(tags.substr(0, end));
        if (!tag.empty() && each(tag)) return true;
        tags.remove_prefix(std::min(end + 1, tags.size()));
    }
    return false;
}

inline bool HasTag(const store::Terminal& t, const std::string& wanted) {
    return ForEachTag(t.tags, [&wanted](std::string_view tag) { return tag == wanted; });
}

inline QString Utf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Box entries in the system's GBK order, as the list sorts.
inline QByteArray GbkOrder(const QString& text) {
    const auto gbk = Utf8ToGbk(text.toStdString());
    return gbk ? QByteArray::fromStdString(*gbk) : text.toUtf8();
}

}  // namespace pelmora::device_list
