// A terminal's page, from the device list's row menu: what the registry knows
// of it, what the operator says of it (name, region, coordinates, tags,
// note: editable, saved through the registry keeper), and its latest online,
// offline and power changes.
#pragma once

#include <QDialog>
#include <QString>

#include <cstdint>
#include <functional>

class QLineEdit;
class QTableWidget;

namespace pelmora {

namespace dispatch {
class RegistryKeeper;
}

class CTerminalPage final : public QDialog {
    Q_OBJECT
  public:
    using Inform = std::function<void(const QString& text, const QString& caption)>;
    // Events shown at most.
    static constexpr std::size_t kHistoryCount = 100;

    // `now`: seconds since 1970, for how long the terminal has been offline.
    CTerminalPage(dispatch::RegistryKeeper& keeper, std::uint32_t deviceId, std::int64_t now,
                  Inform inform, QWidget* parent = nullptr);

    // Checks the fields and saves them; false, with a message naming the
    // field, when a coordinate is not a number or out of range.
    bool Save();

    // The editable fields by name: "name", "regionCode", "regionName",
    // "latitude", "longitude", "tags", "note".
    QLineEdit* Field(const char* name) const;
    QTableWidget* History() const { return history_; }

  signals:
    void Saved(std::uint32_t deviceId);

  private:
    dispatch::RegistryKeeper& keeper_;
    std::uint32_t deviceId_;
    Inform inform_;
    QTableWidget* history_ = nullptr;
};

}  // namespace pelmora
