// Every page and dialog renders with its texts inside its bounds. With
// PELMORA_SHOT_DIR set, the pictures are also saved there for a look.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDir>
#include <QDockWidget>
#include <QLabel>
#include <QTemporaryDir>

#include "AddPhoneDlg.h"
#include "DeviceConfigDlg.h"
#include "GroupJob.h"
#include "GroupJobPanel.h"
#include "LoopbackPort.h"
#include "MainFrame.h"
#include "PelmoraView.h"
#include "PswDlg.h"
#include "RegistryKeeper.h"
#include "ServerSettingDialog.h"
#include "ServiceSettings.h"
#include "Store.h"
#include "SystemControlDlg.h"
#include "TabSheet.h"
#include "TerminalPage.h"

namespace pelmora {
namespace {

using namespace std::chrono_literals;

// Every button and label of the widget shows its whole text.
void ExpectTextsFit(QWidget& root) {
    for (QAbstractButton* button : root.findChildren<QAbstractButton*>()) {
        if (!button->isVisibleTo(&root) || button->text().isEmpty()) continue;
        const int needed = button->fontMetrics().horizontalAdvance(button->text());
        EXPECT_LE(needed, button->width()) << button->text().toStdString();
    }
    for (QLabel* label : root.findChildren<QLabel*>()) {
        if (!label->isVisibleTo(&root) || label->text().isEmpty() || label->wordWrap()) continue;
        const int needed = label->fontMetrics().horizontalAdvance(label->text());
        EXPECT_LE(needed, label->width() + 1) << label->text().toStdString();
    }
}

void Shoot(QWidget& widget, const QString& name) {
    widget.show();
    QCoreApplication::processEvents();
    const QImage picture = widget.grab().toImage();
    EXPECT_FALSE(picture.isNull()) << name.toStdString();
    ExpectTextsFit(widget);
    const QByteArray folder = qgetenv("PELMORA_SHOT_DIR");
    if (!folder.isEmpty()) picture.save(QDir(QString::fromUtf8(folder)).filePath(name + ".png"));
}

class PagesRender : public ::testing::Test {
  protected:
    void SetUp() override {
        qputenv("PELMORA_LOG_DIR", dir_.filePath("logs").toUtf8());
        settings_ = std::make_unique<ServiceSettings>(dir_.filePath("settings.ini"));
        settings_->Load();
        CMainFrame::Options options;
        options.settings = settings_.get();
        options.stopPause = 0ms;
        frame_ = std::make_unique<CMainFrame>(options);
        frame_->resize(1440, 900);
    }
    QTemporaryDir dir_;
    std::unique_ptr<ServiceSettings> settings_;
    std::unique_ptr<CMainFrame> frame_;
};

TEST_F(PagesRender, EveryPageAndDialog) {
    CPelmoraView& view = *frame_->CommandView();
    Shoot(*frame_, "main-configuration");
    // The banner names the terminal and read-back the pages show.
    view.Engine().AdoptSettings({}, 0x0001E240);
    view.ConfigPages().FillPagesFromSettings();
    Shoot(*frame_, "main-configuration-read");
    CTabSheet& config = view.ConfigPages().Tabs();
    for (int page = 1; page < config.PageCount(); ++page) {
        Shoot(*config.Page(page), QString("configuration-tab%1").arg(page));
    }
    view.ShowPage(CPelmoraView::Page::Control);
    Shoot(*frame_, "main-control");
    Shoot(*view.ControlPages().Tabs().Page(1), "control-upgrade");
    view.ShowPage(CPelmoraView::Page::DataSend);
    Shoot(*frame_, "main-data-send");
    // The group panel beside the pages, with a job not yet run.
    frame_->GroupPanel()->Show(std::make_shared<GroupJob>(
        CommandKind::SendPlayContent, "x", std::vector<std::uint32_t>{0xA00001, 0xA00002},
        std::vector<std::uint32_t>{0xA00003}));
    Shoot(*frame_->GroupDock(), "group-panel");
    frame_->GroupDock()->hide();

    CServerSetting settings(5001, 5, 120);
    Shoot(settings, "dialog-service-settings");
    CPSWDlg password;
    Shoot(password, "dialog-password");
    CAddPhoneDlg numbers(view.Engine());
    Shoot(numbers, "dialog-number-entry");

    auto db = store::MemoryStore();
    dispatch::RegistryKeeper keeper(*db);
    store::Terminal terminal;
    terminal.deviceId = 0x0001E240;
    terminal.sim = "13800000000";
    terminal.firstSeen = 1'700'000'000;
    terminal.lastSeen = 1'700'086'400;
    terminal.power = store::kPowerBattery;
    terminal.powerChanged = 1'700'003'600;
    terminal.name = "东村广播站";
    terminal.regionCode = "330100";
    terminal.regionName = "东区";
    terminal.latitude = 30.25;
    terminal.longitude = 120.5;
    terminal.tags = "学校;山区";
    keeper.Replace({terminal});
    db->AddEvents({{1'700'086'400, 0x0001E240, "offline", ""},
                   {1'700'003'600, 0x0001E240, "power", "备电"},
                   {1'700'000'000, 0x0001E240, "online", "10.20.0.7"}});
    db->Flush();
    CTerminalPage page(keeper, 0x0001E240, 1'700'100'000, {});
    Shoot(page, "dialog-terminal-page");
}

}  // namespace
}  // namespace pelmora
