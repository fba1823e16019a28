#include "Mp3Control.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

#include <cstdio>

#include "CommandEngine.h"
#include "GbkCodec.h"
#include "GroupLauncher.h"

namespace pelmora {

std::string FormatTitleNumber(const QString& text) {
    // Bounded so that a long run of digits can neither overflow nor widen
    // the five-digit field the terminal reads.
    long number = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) break;
        number = number * 10 + (c.unicode() - '0');
        if (number > 99999) {
            number = 99999;
            break;
        }
    }
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "%05ld", number);
    return buffer;
}

CMp3Control::CMp3Control(CommandEngine& engine, const IDeviceList& devices, QWidget* parent)
    : QWidget(parent), engine_(engine), devices_(devices) {
    auto* mp3Group = new QGroupBox(QStringLiteral("MP3控制"), this);
    titles_ = new QComboBox(mp3Group);
    titles_->setObjectName("1006");
    for (int i = 1; i <= 10; ++i) titles_->addItem(QString::number(i));
    titles_->setCurrentIndex(0);
    play_ = new QPushButton(QStringLiteral("播放"), mp3Group);
    play_->setObjectName("1002");
    stop_ = new QPushButton(QStringLiteral("停止"), mp3Group);
    stop_->setObjectName("1003");
    groupPlay_ = new QPushButton(QStringLiteral("群发播放"), mp3Group);
    groupPlay_->setObjectName("groupPlay");
    groupStop_ = new QPushButton(QStringLiteral("群发停止"), mp3Group);
    groupStop_->setObjectName("groupStop");
    auto* mp3Layout = new QGridLayout(mp3Group);
    mp3Layout->addWidget(new QLabel(QStringLiteral("MP3歌曲:"), mp3Group), 0, 0);
    mp3Layout->addWidget(titles_, 0, 1);
    mp3Layout->addWidget(play_, 0, 2);
    mp3Layout->addWidget(stop_, 0, 3);
    mp3Layout->addWidget(groupPlay_, 0, 4);
    mp3Layout->addWidget(groupStop_, 0, 5);

    auto* versionGroup = new QGroupBox(QStringLiteral("版本查询"), this);
    query_ = new QPushButton(QStringLiteral("查询"), versionGroup);
    query_->setObjectName("1004");
    bootBox_ = new QLineEdit(versionGroup);
    bootBox_->setObjectName("1010");
    bootBox_->setReadOnly(true);
    softwareBox_ = new QLineEdit(versionGroup);
    softwareBox_->setObjectName("1011");
    softwareBox_->setReadOnly(true);
    groupQuery_ = new QPushButton(QStringLiteral("群发查询"), versionGroup);
    groupQuery_->setObjectName("groupQuery");
    auto* versionLayout = new QGridLayout(versionGroup);
    versionLayout->addWidget(query_, 0, 0);
    versionLayout->addWidget(groupQuery_, 0, 1, Qt::AlignLeft);
    versionLayout->addWidget(new QLabel(QStringLiteral("BOOT版本:"), versionGroup), 1, 0);
    versionLayout->addWidget(bootBox_, 1, 1);
    versionLayout->addWidget(new QLabel(QStringLiteral("软件版本:"), versionGroup), 2, 0);
    versionLayout->addWidget(softwareBox_, 2, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(mp3Group);
    layout->addWidget(versionGroup);
    layout->addStretch(1);

    connect(play_, &QPushButton::clicked, this, &CMp3Control::OnPlay);
    connect(stop_, &QPushButton::clicked, this, &CMp3Control::OnStop);
    connect(query_, &QPushButton::clicked, this, &CMp3Control::OnQuery);
    connect(groupPlay_, &QPushButton::clicked, this, &CMp3Control::OnGroupPlay);
    connect(groupStop_, &QPushButton::clicked, this, &CMp3Control::OnGroupStop);
    connect(groupQuery_, &QPushButton::clicked, this, &CMp3Control::OnGroupQuery);
}

void CMp3Control::OnPlay() {
    std::string title = FormatTitleNumber(titles_->currentText());
    engine_.SubmitPageCommand(devices_, CommandKind::PlayMp3, std::move(title));
}

void CMp3Control::OnStop() {
    engine_.SubmitPageCommand(devices_, CommandKind::StopMp3);
}

void CMp3Control::OnQuery() {
    engine_.SubmitPageCommand(devices_, CommandKind::ReadVersion);
}

void CMp3Control::OnGroupPlay() {
    if (launcher_)
        launcher_->Launch(CommandKind::PlayMp3, FormatTitleNumber(titles_->currentText()));
}

void CMp3Control::OnGroupStop() {
    if (launcher_) launcher_->Launch(CommandKind::StopMp3);
}

void CMp3Control::OnGroupQuery() {
    if (launcher_) launcher_->Launch(CommandKind::ReadVersion);
}

void CMp3Control::ShowVersions(const std::string& software, const std::string& boot) {
    // The terminal's bytes are shown whatever they hold: a bad byte becomes
    // a replacement mark rather than hiding the rest of the text.
    const QString softwareText = QString::fromStdString(GbkToUtf8Lossy(software));
    const QString bootText = QString::fromStdString(GbkToUtf8Lossy(boot));
    auto show = [this, softwareText, bootText] {
        softwareBox_->setText(softwareText);
        bootBox_->setText(bootText);
    };
    if (QThread::currentThread() == thread()) {
        show();
    } else {
        // Not blocking: the worker need not wait for the window, and a page
        // already gone simply drops the call.
        QMetaObject::invokeMethod(this, show, Qt::QueuedConnection);
    }
}

}  // namespace pelmora
