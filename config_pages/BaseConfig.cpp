#include "BaseConfig.h"

#include <QComboBox>
#include <QDateTimeEdit>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>

#include <map>

#include "CommandEngine.h"
#include "CommandTexts.h"
#include "GbkCodec.h"
#include "GridFill.h"
#include "ListCtrlEx.h"

namespace pelmora {

namespace {

enum class RowKind { Header, Choice, Text, Default };

struct RowSpec {
    const char* label;
    RowKind kind;
    QStringList options;
};

QStringList Numbers(int from, int to) {
    QStringList list;
    for (int i = from; i <= to; ++i) list << QString::number(i);
    return list;
}

const std::vector<RowSpec>& LeftRows() {
    static const std::vector<RowSpec> rows = {
        {"预置内容设置", RowKind::Header, {}},
        {"预置内容一:", RowKind::Text, {}},
        {"预置内容二:", RowKind::Text, {}},
        {"预置内容三:", RowKind::Text, {}},
        {"优先级设置", RowKind::Header, {}},
        {"电话预警:", RowKind::Choice, Numbers(1, 10)},
        {"短信预警:", RowKind::Choice, Numbers(1, 10)},
        {"GPRS数据预警:", RowKind::Choice, Numbers(1, 10)},
        {"本地麦克风预警:", RowKind::Choice, Numbers(1, 10)},
        {"FM调频预警:", RowKind::Choice, Numbers(1, 10)},
        {"对讲机预警:", RowKind::Choice, Numbers(1, 10)},
        {"预置内容预警:", RowKind::Choice, Numbers(1, 10)},
        {"Line in 输入预警:", RowKind::Choice, Numbers(1, 10)},
        {"MP3预警:", RowKind::Choice, Numbers(1, 10)},
        {"预警播报次数设置", RowKind::Header, {}},
        {"短信预警播报次数:", RowKind::Default, {}},
        {"GPRS预警播报次数:", RowKind::Default, {}},
        {"本地预警播报次数:", RowKind::Default, {}},
        {"其他设置", RowKind::Header, {}},
        {"是否短信回执:", RowKind::Choice, {"否", "是"}},
        {"是否短信预警备份:", RowKind::Choice, {"是", "否"}},
        {"状态短信发送时间间隔(分钟):", RowKind::Default, {}},
        {"FM接收频率(MHz):", RowKind::Text, {}},
        {"FM接收信噪比:", RowKind::Default, {}},
        {"FM音量:", RowKind::Choice, Numbers(0, 47)},
        {"是否启用FM接收:", RowKind::Choice, {"否", "是"}},
        {"MP3播放模式:", RowKind::Choice, {"单曲", "单曲循环", "全部循环"}},
        {"MP3播放音量:", RowKind::Choice, Numbers(0, 26)},
        {"TTS语音模式:", RowKind::Choice, {"女声", "男声"}},
        {"TTS播放音量:", RowKind::Choice, Numbers(1, 10)},
        {"TTS播放语速:", RowKind::Choice, Numbers(1, 10)},
        {"TTS播放语调:", RowKind::Choice, Numbers(1, 10)},
        {"是否带通讯模块:", RowKind::Choice, {"是", "否"}},
        {"否开启对讲机模块:", RowKind::Choice, {"否", "是"}},
    };
    return rows;
}

const std::vector<RowSpec>& RightRows() {
    static const std::vector<RowSpec> rows = {
        {"GPRS中心设置", RowKind::Header, {}},
        {"数据中心数目:", RowKind::Choice, {"0", "1"}},
        {"GPRS主中心地址", RowKind::Text, {}},
        {"GPRS主中心端口", RowKind::Default, {}},
        {"GPRS备份中心地址:", RowKind::Text, {}},
        {"GPRS备份中心端口:", RowKind::Default, {}},
        {"主中心DNS服务器IP:", RowKind::Text, {}},
        {"备份中心DNS服务器IP:", RowKind::Text, {}},
        {"工作参数设置", RowKind::Header, {}},
        {"调试等级:", RowKind::Choice, {"0", "1", "2"}},
        {"是否自动返回主中心:", RowKind::Choice, {"否", "是"}},
        {"设备ID号码(固定8位):", RowKind::Text, {}},
        {"设备SIM号码(固定11位):", RowKind::Default, {}},
        {"重连时尝试次数:", RowKind::Default, {}},
        {"重连任务之间的间隔(秒):", RowKind::Default, {}},
        {"网络参数", RowKind::Header, {}},
        {"无线网络APN:", RowKind::Text, {}},
        {"APN用户名", RowKind::Text, {}},
        {"APN密码:", RowKind::Text, {}},
        {"APN拨号中心号码:", RowKind::Text, {}},
        {"短信中心号码(+86):", RowKind::Text, {}},
        {"心跳包时间(31到65535):", RowKind::Default, {}},
    };
    return rows;
}

const RowSpec* SpecAt(int row, int valueColumn) {
    const auto& rows = valueColumn == 1 ? LeftRows() : RightRows();
    if (row < 0 || row >= static_cast<int>(rows.size()) || (valueColumn != 1 && valueColumn != 3))
        return nullptr;
    return &rows[static_cast<std::size_t>(row)];
}

const QColor kLabelBackground(0xF0, 0xF0, 0xF0);

}  // namespace

CBaseConfig::CBaseConfig(CommandEngine& engine, IDeviceList& devices, QWidget* parent)
    : QWidget(parent), engine_(engine), devices_(devices) {
    grid_ = new CListCtrlEx(this);
    grid_->setObjectName("settingsGrid");
    grid_->verticalHeader()->setDefaultSectionSize(20);
    choiceEditor_ = new QComboBox(this);
    choiceEditor_->setEditable(true);
    spareChoice_ = new QComboBox(this);
    spareDate_ = new QDateTimeEdit(this);
    textEditor_ = new QLineEdit(this);
    defaultEditor_ = new QLineEdit(this);
    for (QWidget* editor : std::initializer_list<QWidget*>{choiceEditor_, spareChoice_, spareDate_,
                                                           textEditor_, defaultEditor_}) {
        editor->hide();
    }
    saveButton_ = new QPushButton(QStringLiteral("保存设置"), this);
    readButton_ = new QPushButton(QStringLiteral("参数回读"), this);
    saveButton_->setObjectName("button1004");
    readButton_->setObjectName("button1005");
    grid_->setGeometry(4, 4, 1110, 440);
    saveButton_->setGeometry(880, 452, 110, 30);
    readButton_->setGeometry(1000, 452, 110, 30);
    connect(saveButton_, &QPushButton::clicked, this, &CBaseConfig::OnSaveSettings);
    connect(readButton_, &QPushButton::clicked, this, &CBaseConfig::OnReadBack);
    BuildRows();
}

void CBaseConfig::BuildRows() {
    filled_.clear();
    grid_->DeleteAllItems();
    grid_->DeleteAllColumns();
    grid_->InsertColumn(0, QStringLiteral("配置项"), 150);
    grid_->InsertColumn(1, QStringLiteral("配置值"), 350);
    grid_->InsertColumn(2, QStringLiteral("配置项"), 150);
    grid_->InsertColumn(3, QStringLiteral("配置值"), 250);
    for (int column : {0, 2}) {
        grid_->SetColumnReadOnly(column, true);
        grid_->SetColumnColors(column, kLabelBackground, Qt::black);
    }
    grid_->SetDefaultEditor(defaultEditor_);

    // The options are loaded when an editor opens; nothing is preselected.
    const EditorCallback init = [](QWidget*& editor, int row, int column, QString& text, quintptr,
                                   CListCtrlEx&, bool) {
        const RowSpec* layout = SpecAt(row, column);
        if (layout == nullptr) return 1;
        if (auto* combo = qobject_cast<QComboBox*>(editor);
            combo != nullptr && layout->kind == RowKind::Choice) {
            combo->clear();
            combo->addItems(layout->options);
            combo->setCurrentIndex(-1);
            combo->setEditText(QString());
        } else if (auto* edit = qobject_cast<QLineEdit*>(editor);
                   edit != nullptr && layout->kind == RowKind::Text) {
            edit->setText(text);
        }
        return 1;
    };
    // A commit writes the editor's value: a choice only when an option was
    // picked, a text always. Escape leaves the cell as it was (the grid
    // sees to that).
    const EditorCallback end = [](QWidget*& editor, int row, int column, QString& text, quintptr,
                                  CListCtrlEx&, bool) {
        const RowSpec* layout = SpecAt(row, column);
        if (layout == nullptr) return 1;
        if (auto* combo = qobject_cast<QComboBox*>(editor);
            combo != nullptr && layout->kind == RowKind::Choice) {
            if (combo->currentIndex() >= 0) text = combo->itemText(combo->currentIndex());
        } else if (auto* edit = qobject_cast<QLineEdit*>(editor);
                   edit != nullptr && layout->kind == RowKind::Text) {
            text = edit->text();
        }
        return 1;
    };

    auto styleRows = [&](const std::vector<RowSpec>& rows, int labelColumn) {
        const int valueColumn = labelColumn + 1;
        for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
            const RowSpec& layout = rows[static_cast<std::size_t>(row)];
            if (labelColumn == 0) {
                grid_->InsertRow(row, QString::fromUtf8(layout.label));
            } else {
                grid_->SetItemText(row, labelColumn, QString::fromUtf8(layout.label));
            }
            switch (layout.kind) {
                case RowKind::Header:
                    grid_->SetCellReadOnly(row, valueColumn, true);
                    grid_->SetCellColors(row, valueColumn, Qt::white, Qt::white);
                    grid_->SetCellColors(row, labelColumn, Qt::black, Qt::white);
                    break;
                case RowKind::Choice:
                    grid_->SetCellEditor(row, valueColumn, choiceEditor_, init, end);
                    break;
                case RowKind::Text:
                    grid_->SetCellEditor(row, valueColumn, textEditor_, init, end);
                    break;
                case RowKind::Default:
                    break;
            }
        }
    };
    styleRows(LeftRows(), 0);
    styleRows(RightRows(), 2);
}

void CBaseConfig::FillFromSettings(const AlarmSettings& settings) {
    for (const GridCellUpdate& cell : GridCellsFromSettings(settings)) {
        if (cell.text) {
            const QString shown = QString::fromStdString(GbkToUtf8Lossy(*cell.text));
            grid_->SetItemText(cell.row, cell.column, shown);
            filled_[{cell.row, cell.column}] = {shown, *cell.text};
        }
        if (cell.makeReadOnly) grid_->SetCellReadOnly(cell.row, cell.column, true);
    }
}

std::optional<std::string> CBaseConfig::CellOnWindowThread(int row, int column) {
    const QString text = grid_->ItemText(row, column);
    if (const auto it = filled_.find({row, column});
        it != filled_.end() && it->second.first == text)
        return it->second.second;
    return Utf8ToGbk(text.toStdString());
}

std::optional<std::string> CBaseConfig::CellText(int row, int column) {
    if (QThread::currentThread() == thread()) return CellOnWindowThread(row, column);
    std::optional<std::string> text;
    QMetaObject::invokeMethod(
        this, [&] { text = CellOnWindowThread(row, column); }, Qt::BlockingQueuedConnection);
    return text;
}

std::string CBaseConfig::CellLabel(int row, int column) {
    const RowSpec* layout = SpecAt(row, column);
    return layout == nullptr ? std::string() : Utf8ToGbk(layout->label).value_or(std::string());
}

void CBaseConfig::OnSaveSettings() {
    const JobTexts* texts = TextsFor(CommandKind::SaveSettings);
    Queue(static_cast<int>(CommandKind::SaveSettings), texts->queued, texts->notQueued);
}

void CBaseConfig::OnReadBack() {
    const JobTexts* texts = TextsFor(CommandKind::ReadSettings);
    Queue(static_cast<int>(CommandKind::ReadSettings), texts->queued, texts->notQueued);
}

void CBaseConfig::Queue(int kind, const char* queuedLine, const char* refusedLine) {
    // This page's own contract: the first ticked row, its ID, the busy flag.
    // No ticked row is said in the log, as on the other pages.
    int row = -1;
    for (int i = 0; i < devices_.RowCount() && row < 0; ++i) {
        if (devices_.IsChecked(i)) row = i;
    }
    if (row < 0) {
        engine_.Log(text::kNoDeviceChosen);
        return;
    }
    const std::string idText = devices_.IdText(row);
    std::uint32_t id = 0;
    if (!ParseDeviceId(idText, id)) {
        engine_.Log(WithText(text::kBadDeviceId, idText));
        return;
    }
    if (engine_.Busy()) {
        engine_.Log(text::kBusy);
        return;
    }
    // A save writes the differences from the read-back the grid shows: only
    // to the terminal it was read from.
    if (kind == static_cast<int>(CommandKind::SaveSettings) && !engine_.CheckPagesHold(id)) return;
    auto job = std::make_unique<CommandJob>();
    job->kind = kind;
    job->deviceId = id;
    engine_.SubmitLogged(std::move(job), queuedLine, refusedLine);
}

}  // namespace pelmora
