#include "DrillMode.h"

#include <QAction>
#include <QLabel>
#include <QMainWindow>
#include <QToolBar>

#include "CommandEngine.h"
#include "GbkCodec.h"
#include "ServiceSettings.h"
#include "WindowTitle.h"

namespace pelmora {

DrillMode::DrillMode(QMainWindow& window, WindowTitle& title, CommandEngine& engine,
                     const ServiceSettings& settings, Log log, Inform inform)
    : QObject(&window),
      window_(window),
      title_(title),
      engine_(engine),
      settings_(settings),
      log_(std::move(log)),
      inform_(std::move(inform)),
      action_(new QAction(QStringLiteral("演练模式"), this)),
      banner_(new QToolBar(QStringLiteral("演练模式"), &window)),
      label_(new QLabel(&window)) {
    action_->setCheckable(true);
    action_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D));
    connect(action_, &QAction::triggered, this, [this](bool on) {
        if (!Set(on)) action_->setChecked(On());
    });
    banner_->setObjectName("drillBanner");
    banner_->setMovable(false);
    banner_->setFloatable(false);
    // Red and in words: the colour is never the only sign.
    label_->setStyleSheet(
        "QLabel { background: #c62828; color: white; font-weight: bold; padding: 4px 12px; }");
    label_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    banner_->addWidget(label_);
    banner_->hide();
}

void DrillMode::AddBanner() {
    // A row of its own, below the tool bar.
    window_.addToolBarBreak(Qt::TopToolBarArea);
    window_.addToolBar(Qt::TopToolBarArea, banner_);
    banner_->setVisible(On());
}

bool DrillMode::On() const {
    return engine_.Drill();
}

QString DrillMode::BannerText() const {
    return QStringLiteral("演练模式:所有发送都记为演练,播放内容前加上“%1”")
        .arg(settings_.drillPrefix);
}

void DrillMode::ApplyPrefix() {
    if (!On()) return;
    const std::optional<std::string> prefix = Utf8ToGbk(settings_.drillPrefix.toStdString());
    if (!prefix || !engine_.SetDrill(true, *prefix)) {
        inform_(QStringLiteral("新的演练文字在再次进入演练模式时生效"), QStringLiteral("提示"));
        return;
    }
    label_->setText(BannerText());
}

bool DrillMode::Set(bool on) {
    if (on == On()) return true;
    const std::optional<std::string> prefix = Utf8ToGbk(settings_.drillPrefix.toStdString());
    if (!prefix) {
        inform_(QStringLiteral("演练文字含有无法发送的字符,请在“预警设置”中修改"),
                QStringLiteral("提示"));
        return false;
    }
    if (!engine_.SetDrill(on, *prefix)) {
        inform_(QStringLiteral("有操作正在进行,结束后才能切换演练模式"), QStringLiteral("提示"));
        return false;
    }
    action_->setChecked(on);
    title_.SetDrill(on);
    if (on) {
        label_->setText(BannerText());
        banner_->show();
        log_(QStringLiteral("进入演练模式,此后的发送都记为演练"));
    } else {
        banner_->hide();
        log_(QStringLiteral("退出演练模式"));
    }
    return true;
}

}  // namespace pelmora
