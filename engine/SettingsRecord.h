// The settings of the terminal last reported: one record for the whole
// program, filled from each settings report and written back by the save
// sequence. The record names the terminal and the read-back it came from
// (SettingsOrigin), so nothing read from one terminal is written to another. Texts are GBK bytes.
// The widths of the terminal's own record survive as limits: see the k...Limit constants and their
// users.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace pelmora {

inline constexpr std::size_t kNumberListSize = 255;
inline constexpr std::size_t kNumberEntryLimit = 32;      // characters an entry holds
inline constexpr std::size_t kPresetTextLimit = 400;      // bytes of text1..text3
inline constexpr std::size_t kAlarmValueLimit = 99;       // optional alarm texts
inline constexpr std::size_t kModemValueLimit = 99;       // modem texts are cut to this
inline constexpr std::size_t kModemLongValueLimit = 255;  // the four 256-byte modem fields

using NumberList = std::array<std::string, kNumberListSize>;

// The modem part of the report.
struct DtuSettings {
    std::string serverIp;
    std::string serverPort;
    std::string secondaryServerIp;
    std::string secondaryServerPort;
    std::string dnsServerIp;
    std::string secondDnsServerIp;
    std::string workMode;
    std::string activateMethod;
    std::string debugLevel;
    std::string serialCommMode;
    std::string serialBaudrate;
    std::string returnToMainServer;
    std::string modemId;
    std::string modemPhoneNumber;
    std::string bytesFinishInterval;
    std::string customKeepOnlineInfo;
    std::string customRegisterInfo;
    std::string linkFailRetryTimes;
    std::string dialFailWaitTime;
    std::string deliverTcpDataDirectly;
    std::string apn;
    std::string pppUserId;
    std::string pppPassword;
    std::string centerCallNumber;
    std::string smsCenter;
    std::string heartbeatPollTime;
    std::string controlPhoneNumber;
    std::string smsDaemonPassword;
    std::string dataDaemonPppOnPassword;
    std::string dataDaemonPppOffPassword;

    bool operator==(const DtuSettings&) const = default;
};

struct AlarmSettings {
    NumberList adminNumbers;
    NumberList authorizeNumbers;
    NumberList backupNumbers;
    std::string text1;
    std::string text2;
    std::string text3;
    std::uint8_t phonePriority = 0;
    std::uint8_t smsPriority = 0;
    std::uint8_t gprsPriority = 0;
    std::uint8_t micPriority = 0;
    std::uint8_t interPhonePriority = 0;
    std::uint8_t fmPriority = 0;
    std::uint8_t mp3Priority = 0;
    std::uint8_t localAlarmPriority = 0;
    std::uint8_t lineInPriority = 0;
    std::int32_t smsPlayNumber = 0;
    std::int32_t gprsPlayNumber = 0;
    std::int32_t localAlarmPlayNumber = 0;
    std::uint8_t smsResponse = 0;
    DtuSettings dtu;
    std::string mcuWorkFunction;
    std::string interPhoneOpen;
    std::string fmFreq;
    std::string fmSnr;
    std::string fmVoice;
    std::string fmReceiveEnable;
    std::string mp3PlayMode;
    std::string mp3PlayVoice;
    std::string ttsPlayMode;
    std::string ttsPlayLevel;
    std::string ttsPlaySpeed;
    std::string ttsPlayTone;
    std::string smsStateTime;
    std::string smsBackup;
    std::string totalServers;

    bool operator==(const AlarmSettings&) const = default;
};

// Which terminal's report the record holds, and when it was read.
struct SettingsOrigin {
    std::uint32_t deviceId = 0;
    std::int64_t readAt = 0;  // seconds since 1970
    bool complete = true;     // false: the report stopped early; later fields are empty

    bool operator==(const SettingsOrigin&) const = default;
};

// 1 admin, 2 authorize, 3 backup; anything else has no list.
NumberList* NumberListOf(AlarmSettings& settings, int listKind);

}  // namespace pelmora
