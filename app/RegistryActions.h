// The registry's import and export from the window ("设备管理"): a file with
// bad rows lists them (line and reason) and imports the good rows only when
// the operator confirms.
#pragma once

#include <QObject>
#include <QString>
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

    RegistryActions(dispatch::RegistryKeeper& keeper, Log log, Confirm confirm, Inform inform,
                    QWidget* dialogParent);

    // Replaceable for tests: the file dialogs.
    void SetAskFiles(AskFile open, AskFile save);

    void Import();
    void Export();

  private:
    dispatch::RegistryKeeper& keeper_;
    Log log_;
    Confirm confirm_;
    Inform inform_;
    QWidget* parent_;
    AskFile askOpen_;
    AskFile askSave_;
};

}  // namespace pelmora
