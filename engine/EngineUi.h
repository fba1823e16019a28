// The narrow interfaces through which the command engine reaches the window.
// All texts are GBK. The window implements them; tests fake them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "CommandJob.h"

namespace pelmora {

// Results of the engine, called on the worker thread (and, for log lines, on
// the window thread too). The window posts them to itself; nothing here may
// block on the window thread.
class IEngineEvents {
  public:
    virtual ~IEngineEvents() = default;
    virtual void PostLog(std::string line) = 0;
    virtual void SettingsArrived() = 0;
    virtual void NumbersAdded(ListChangeNotice notice) = 0;
    virtual void NumbersDeleted(ListChangeNotice notice) = 0;
    virtual void NumberListReset(ListChangeNotice notice) = 0;
};

// The device list as the engine sees it. Window thread only.
class IDeviceList {
  public:
    virtual ~IDeviceList() = default;
    virtual int RowCount() const = 0;
    virtual bool IsChecked(int row) const = 0;
    virtual std::string IdText(int row) const = 0;      // column "设备ID"
    virtual std::string OnlineText(int row) const = 0;  // column "是否在线"
    // The first row whose ID text is exactly `idText`, or -1.
    virtual int FindRow(const std::string& idText) const = 0;
    virtual void SetPowerText(int row, const std::string& text) = 0;  // column "供电模式"
};

// The settings grid's value cells, read by the save sequence on the worker
// thread (the window answers through a blocking call; the engine never holds
// the settings lock while it asks).
class ISettingsGrid {
  public:
    virtual ~ISettingsGrid() = default;
    // Empty when the cell holds text that GBK cannot represent.
    virtual std::optional<std::string> CellText(int row, int column) = 0;
    // The label of a value cell's row, for messages.
    virtual std::string CellLabel(int row, int column) = 0;
};

// A modal message box with an OK button, shown for the worker; returns when
// the operator has closed it.
class IPrompt {
  public:
    virtual ~IPrompt() = default;
    virtual void ShowMessage(const std::string& text) = 0;
};

// The version boxes of the MP3 page.
class IVersionView {
  public:
    virtual ~IVersionView() = default;
    virtual void ShowVersions(const std::string& software, const std::string& boot) = 0;
};

// The upgrade page's fields, read when the upgrade job runs.
struct UpgradeForm {
    int fileFormat = -1;  // selection indexes; -1: nothing selected
    int downloadTime = -1;
    int parameterMode = -1;
    int downloadContent = -1;
    int protocol = -1;
    std::string answerFrames;
    std::string serverAddress;
    std::string serverPort;
    std::string version;
};

class IUpgradeForm {
  public:
    virtual ~IUpgradeForm() = default;
    virtual UpgradeForm ReadUpgradeForm() = 0;
};

}  // namespace pelmora
