// What the engine benchmarks share: a device list without rows.
#pragma once

#include <string>

#include "EngineUi.h"

namespace bench {

// Engine events that go nowhere.
class QuietEvents final : public pelmora::IEngineEvents {
  public:
    void PostLog(std::string) override {}
    void SettingsArrived() override {}
    void NumbersAdded(pelmora::ListChangeNotice) override {}
    void NumbersDeleted(pelmora::ListChangeNotice) override {}
    void NumberListReset(pelmora::ListChangeNotice) override {}
};

// The engine's view of a device list that has no rows.
class NoDevices final : public pelmora::IDeviceList {
  public:
    int RowCount() const override { return 0; }
    bool IsChecked(int) const override { return false; }
    std::string IdText(int) const override { return {}; }
    std::string OnlineText(int) const override { return {}; }
    int FindRow(const std::string&) const override { return -1; }
    void SetPowerText(int, const std::string&) override {}
};

}  // namespace bench
