// The registry's import and export from the window ("设备管理"): a file with
// bad rows lists them (line and reason) and imports the good rows only when
// the operator confirms. Also a terminal's page, from the device list.
#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>

namespace pelmora {

namespace dispatch {
class RegistryKeeper;
}

class RegistryActions final : public QObject {
    Q_OBJECT
  public:
    using Log = std::function<void(const QString&)>;
    using Confirm = std::function<bool(const QString& text, const QString& caption)>;
    using Inform = std::function<void(const QString& text, const QString& caption)>;
    using AskFile = std::function<QString()>;
    // Seconds since 1970.
    using Now = std::function<std::int64_t()>;
    // Told after the registry was changed from here (an import, a page saved).
    using Changed = std::function<void()>;

    RegistryActions(dispatch::RegistryKeeper& keeper, Log log, Confirm confirm, Inform inform,
                    QWidget* dialogParent, Now now = {}, Changed changed = {});

    // Replaceable for tests: the file dialogs.
    void SetAskFiles(AskFile open, AskFile save);

    void Import();
    void Export();
    // Opens the page of the terminal whose ID text ("%08x") is given; a
    // text that is no device ID opens nothing.
    void ShowTerminalPage(const QString& idText);

  private:
    dispatch::RegistryKeeper& keeper_;
    Log log_;
    Confirm confirm_;
    Inform inform_;
    QWidget* parent_;
    AskFile askOpen_;
    AskFile askSave_;
    Now now_;
    Changed changed_;
};

}  // namespace pelmora
