#include "RegistryActions.h"

#include <QFile>
#include <QFileDialog>
#include <QWidget>

#include <ctime>

#include "CommandEngine.h"
#include "RegistryCsv.h"
#include "RegistryKeeper.h"
#include "TerminalPage.h"

namespace pelmora {

namespace {

// Listed in a message at most; the rest are counted.
constexpr std::size_t kListedProblems = 20;

}  // namespace

RegistryActions::RegistryActions(dispatch::RegistryKeeper& keeper, Log log, Confirm confirm,
                                 Inform inform, QWidget* dialogParent, Now now, Changed changed)
    : keeper_(keeper),
      log_(std::move(log)),
      confirm_(std::move(confirm)),
      inform_(std::move(inform)),
      parent_(dialogParent),
      now_(std::move(now)),
      changed_(std::move(changed)) {
    if (!now_) now_ = [] { return static_cast<std::int64_t>(std::time(nullptr)); };
    if (!changed_) changed_ = [] {};
    askOpen_ = [this] {
        return QFileDialog::getOpenFileName(parent_, QStringLiteral("导入终端登记"), QString(),
                                            QStringLiteral("CSV (*.csv)"));
    };
    askSave_ = [this] {
        return QFileDialog::getSaveFileName(parent_, QStringLiteral("导出终端登记"),
                                            QStringLiteral("terminals.csv"),
                                            QStringLiteral("CSV (*.csv)"));
    };
}

void RegistryActions::SetAskFiles(AskFile open, AskFile save) {
    askOpen_ = std::move(open);
    askSave_ = std::move(save);
}

void RegistryActions::Import() {
    const QString path = askOpen_();
    if (path.isEmpty()) return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > qint64(store::kMaxCsvBytes)) {
        inform_(QStringLiteral("无法读取 %1 (文件不存在、不可读或超过64 MB)").arg(path),
                QStringLiteral("导入终端登记"));
        return;
    }
    const QByteArray bytes = file.readAll();
    const store::CsvImport parsed =
        store::ParseRegistryCsv(std::string_view(bytes.constData(), std::size_t(bytes.size())));
    if (!parsed.problems.empty()) {
        QString text = QStringLiteral("%1 有 %2 行有误:\n").arg(path).arg(parsed.problems.size());
        for (std::size_t i = 0; i < parsed.problems.size() && i < kListedProblems; ++i)
            text += QStringLiteral("第%1行: %2\n")
                        .arg(parsed.problems[i].line)
                        .arg(QString::fromStdString(parsed.problems[i].reason));
        if (parsed.problems.size() > kListedProblems)
            text += QStringLiteral("……另有%1行\n").arg(parsed.problems.size() - kListedProblems);
        for (const store::CsvProblem& problem : parsed.problems)
            log_(QStringLiteral("导入终端登记: %1 第%2行: %3")
                     .arg(path)
                     .arg(problem.line)
                     .arg(QString::fromStdString(problem.reason)));
        if (parsed.rows.empty()) {
            inform_(text + QStringLiteral("没有可导入的行。"), QStringLiteral("导入终端登记"));
            return;
        }
        text += QStringLiteral("\n是否导入其余 %1 行?").arg(parsed.rows.size());
        if (!confirm_(text, QStringLiteral("导入终端登记"))) {
            log_(QStringLiteral("导入终端登记: 已放弃, 未导入任何终端"));
            return;
        }
    }
    keeper_.Replace(store::MergeImport(keeper_.All(), parsed));
    log_(QStringLiteral("导入终端登记: 已导入%1台终端 (%2)").arg(parsed.rows.size()).arg(path));
    changed_();
}

void RegistryActions::ShowTerminalPage(const QString& idText) {
    std::uint32_t id = 0;
    if (!ParseDeviceId(idText.toStdString(), id)) return;
    // Window-modal without blocking; it goes when closed.
    auto* page = new CTerminalPage(keeper_, id, now_(), inform_, parent_);
    page->setAttribute(Qt::WA_DeleteOnClose);
    connect(page, &CTerminalPage::Saved, this, [this, idText] {
        log_(QStringLiteral("终端%1的运维信息已保存").arg(idText));
        changed_();
    });
    page->open();
}

void RegistryActions::Export() {
    const QString path = askSave_();
    if (path.isEmpty()) return;
    const std::string text = store::RegistryCsv(keeper_.All());
    QFile file(path);
    const bool written = file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                         file.write(text.data(), qint64(text.size())) == qint64(text.size()) &&
                         file.flush();
    log_(written ? QStringLiteral("终端登记已导出到 %1").arg(path)
                 : QStringLiteral("注意!终端登记无法写入 %1").arg(path));
}

}  // namespace pelmora
