#include "GridFill.h"

#include "CommandTexts.h"
#include "SaveSequence.h"

namespace pelmora {

namespace {

constexpr int kLeft = 1;
constexpr int kRight = 3;

std::string YesNoText(bool yes) {
    return yes ? text::kYes : text::kNo;
}

// MHz with two decimals ("8870" shows as 88.70), in integers: printf would
// write the process locale's decimal separator, and a decimal comma is a
// character the save refuses in this cell.
std::string FrequencyText(const std::string& hundredths) {
    const long long value = CellInteger(hundredths);
    const unsigned long long magnitude = value < 0 ? 0ULL - static_cast<unsigned long long>(value)
                                                   : static_cast<unsigned long long>(value);
    const unsigned long long fraction = magnitude % 100;
    return (value < 0 ? "-" : "") + std::to_string(magnitude / 100) + (fraction < 10 ? ".0" : ".") +
           std::to_string(fraction);
}

}  // namespace

std::vector<GridCellUpdate> GridCellsFromSettings(const AlarmSettings& s) {
    std::vector<GridCellUpdate> cells;
    auto left = [&](int row, std::optional<std::string> text) {
        cells.push_back({row, kLeft, std::move(text)});
    };
    auto right = [&](int row, std::string text) {
        cells.push_back({row, kRight, std::move(text)});
    };

    left(1, s.text1);
    left(2, s.text2);
    left(3, s.text3);
    left(5, std::to_string(s.phonePriority));
    left(6, std::to_string(s.smsPriority));
    left(7, std::to_string(s.gprsPriority));
    left(8, std::to_string(s.micPriority));
    left(9, std::to_string(s.fmPriority));
    left(10, std::to_string(s.interPhonePriority));
    left(11, std::to_string(s.localAlarmPriority));
    left(12, std::to_string(s.lineInPriority));
    left(13, std::to_string(s.mp3Priority));
    left(15, std::to_string(s.smsPlayNumber));
    left(16, std::to_string(s.gprsPlayNumber));
    left(17, std::to_string(s.localAlarmPlayNumber));
    left(19, YesNoText(s.smsResponse == 1));
    left(20, YesNoText(CellInteger(s.smsBackup) != 0));
    left(21, s.smsStateTime);
    left(22, FrequencyText(s.fmFreq));
    left(23, s.fmSnr);
    left(24, s.fmVoice);
    left(25, YesNoText(s.fmReceiveEnable == "1"));
    switch (CellInteger(s.mp3PlayMode)) {
        case 0:
            left(26, std::string(text::kSingle));
            break;
        case 1:
            left(26, std::string(text::kSingleRepeat));
            break;
        case 2:
            left(26, std::string(text::kAllRepeat));
            break;
        default:
            left(26, std::nullopt);
            break;  // an unknown mode leaves the cell as it was
    }
    left(27, s.mp3PlayVoice);
    left(28, CellInteger(s.ttsPlayMode) == 0 ? std::string(text::kFemaleVoice)
                                             : std::string(text::kMaleVoice));
    left(29, s.ttsPlayLevel);
    left(30, s.ttsPlaySpeed);
    left(31, s.ttsPlayTone);
    left(32, YesNoText(s.mcuWorkFunction == "1"));
    switch (CellInteger(s.interPhoneOpen)) {
        case 1:
            left(33, YesNoText(true));
            break;
        case 2:
            cells.push_back({33, kLeft, std::nullopt, true});
            break;  // no module to switch
        default:
            left(33, YesNoText(false));
            break;
    }

    const DtuSettings& d = s.dtu;
    right(1, s.totalServers);
    right(2, d.serverIp);
    right(3, d.serverPort);
    right(4, d.secondaryServerIp);
    right(5, d.secondaryServerPort);
    right(6, d.dnsServerIp);
    right(7, d.secondDnsServerIp);
    right(9, d.debugLevel);
    right(10, YesNoText(CellInteger(d.returnToMainServer) != 0));
    right(11, d.modemId);
    right(12, d.modemPhoneNumber);
    right(13, d.linkFailRetryTimes);
    right(14, d.dialFailWaitTime);
    right(16, d.apn);
    right(17, d.pppUserId);
    right(18, d.pppPassword);
    right(19, d.centerCallNumber);
    right(20, d.smsCenter);
    right(21, d.heartbeatPollTime);
    return cells;
}

}  // namespace pelmora
