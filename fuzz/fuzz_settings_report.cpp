// The settings report is text from the terminal that may arrive cut short,
// doubled or garbled; the reader must neither overrun nor store a field past
// its limit, whatever it gets.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "SettingsParser.h"
#include "SettingsRecord.h"

namespace {

using pelmora::AlarmSettings;
using pelmora::NumberList;

constexpr std::size_t kListPieceLimit = 100;

bool HasLineBreakOrNul(const std::string& field) {
    return field.find('\0') != std::string::npos || field.find("\r\n") != std::string::npos;
}

void CheckText(const std::string& field, std::size_t limit) {
    FUZZ_CHECK(field.size() <= limit);
    FUZZ_CHECK(!HasLineBreakOrNul(field));
}

void CheckList(const NumberList& list) {
    for (const std::string& entry : list) {
        FUZZ_CHECK(entry.size() < kListPieceLimit);
        FUZZ_CHECK(entry.find(',') == std::string::npos);
    }
}

void CheckReport(const AlarmSettings& r) {
    CheckList(r.adminNumbers);
    CheckList(r.authorizeNumbers);
    CheckList(r.backupNumbers);
    for (const std::string* t : {&r.text1, &r.text2, &r.text3}) CheckText(*t, pelmora::kPresetTextLimit);
    for (const std::string* t :
         {&r.mcuWorkFunction, &r.interPhoneOpen, &r.fmFreq, &r.fmSnr, &r.fmVoice,
          &r.fmReceiveEnable, &r.mp3PlayMode, &r.mp3PlayVoice, &r.ttsPlayMode, &r.ttsPlayLevel,
          &r.ttsPlaySpeed, &r.ttsPlayTone, &r.smsStateTime, &r.smsBackup}) {
        CheckText(*t, pelmora::kAlarmValueLimit);
    }
    const pelmora::DtuSettings& d = r.dtu;
    for (const std::string* t :
         {&d.serverIp, &d.serverPort, &d.secondaryServerIp, &d.secondaryServerPort, &d.dnsServerIp,
          &d.secondDnsServerIp, &d.workMode, &d.activateMethod, &d.debugLevel, &d.serialBaudrate, &d.returnToMainServer, &d.modemId, &d.modemPhoneNumber,
          &d.bytesFinishInterval, &d.customKeepOnlineInfo, &d.customRegisterInfo,
          &d.linkFailRetryTimes, &d.dialFailWaitTime, &d.deliverTcpDataDirectly, &d.apn,
          &d.pppUserId, &d.pppPassword, &d.centerCallNumber, &d.smsCenter, &d.heartbeatPollTime,
          &d.controlPhoneNumber, &d.smsDaemonPassword, &d.dataDaemonPppOnPassword,
          &d.dataDaemonPppOffPassword, &r.totalServers}) {
        CheckText(*t, pelmora::kModemValueLimit);
    }
    // The serial mode is shortened to three characters of its line (the
    // first, third and last), so it may pair a lone CR with a lone LF of a
    // garbled line; it is shown, never sent back.
    FUZZ_CHECK(d.serialCommMode.size() <= 3);
    FUZZ_CHECK(d.serialCommMode.find('\0') == std::string::npos);
}

// What ParseNumberList must store: the comma pieces in order, at most one
// array's worth, the rest of the array empty; a piece of 100 characters or
// more ends the list with a failure and keeps the pieces before it.
void CheckNumberList(std::string_view value, int kind) {
    auto record = std::make_unique<AlarmSettings>();
    NumberList* list = pelmora::NumberListOf(*record, kind);
    if (list != nullptr) (*list)[0] = "stale";
    const bool ok = pelmora::ParseNumberList(value, kind, *record);
    if (list == nullptr) {
        FUZZ_CHECK(!ok);
        FUZZ_CHECK(*record == AlarmSettings{});
        return;
    }

    std::vector<std::string_view> pieces;
    std::string_view rest = value;
    if (!rest.empty() && rest.back() == ',') rest.remove_suffix(1);
    while (!rest.empty() || !pieces.empty()) {
        const std::size_t comma = rest.find(',');
        pieces.push_back(rest.substr(0, comma));
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
    }
    // "a," leaves "a"; "," leaves "" and so no piece; ",," leaves "," and two.
    bool expectOk = true;
    std::size_t stored = 0;
    for (; stored < pieces.size() && stored < list->size(); ++stored) {
        if (pieces[stored].size() >= kListPieceLimit) {
            expectOk = false;
            break;
        }
    }
    FUZZ_CHECK(ok == expectOk);
    for (std::size_t i = 0; i < list->size(); ++i) {
        if (i < stored) {
            FUZZ_CHECK((*list)[i] == pieces[i]);
        } else {
            FUZZ_CHECK((*list)[i].empty());
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    auto record = std::make_unique<AlarmSettings>();
    pelmora::ParseSettingsReport(text, *record);
    CheckReport(*record);

    // The same bytes as the value of one list line, for each kind and two
    // that have no list.
    for (int kind = 0; kind <= 4; ++kind) CheckNumberList(text, kind);
    return 0;
}
