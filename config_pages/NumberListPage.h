// The admin, authorize and backup number pages of the configuration host.
// They are one page with different texts, commands and button ids. The
// buttons only queue commands; a page's list changes when the terminal has
// accepted one (the reply handlers below, called by the view) or when a
// settings report refills it. Window thread only.
#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <string>
#include <string_view>

#include "CommandJob.h"
#include "SettingsRecord.h"

namespace pelmora {

class CAddPhoneDlg;
class CReportCtrl;
class CommandEngine;
class IDeviceList;

// What tells the three pages apart. Command texts are ASCII; the other
// texts are UTF-8 and reach the log as GBK.
struct NumberPageConfig {
    int listKind;  // 1 admin, 2 authorize, 3 backup: the record's array
    CommandKind addKind;
    CommandKind resetKind;
    CommandKind deleteKind;
    const char* addPrefix;     // "AT+LRMADDADMINNO=": the numbers and "\r" follow
    const char* resetCommand;  // the whole line
    const char* deletePrefix;
    int addButtonId;
    int deleteButtonId;
    int resetButtonId;

    const char* tabTitle;
    const char* columnTitle;
    const char* addQueued;
    const char* addNotQueued;
    const char* deletePrompt;  // the checked numbers follow
    const char* deleteQueued;
    const char* deleteNotQueued;
    const char* resetPrompt;
    const char* resetNotQueued;
    const char* alreadyListed;
    const char* listedNow;
};

extern const NumberPageConfig kAdminNumberPage;
extern const NumberPageConfig kAuthorizeNumberPage;
extern const NumberPageConfig kBackupNumberPage;
// Null for a kind other than 1 to 3.
const NumberPageConfig* NumberPageConfigFor(int listKind);

class CNumberListPage : public QWidget {
    Q_OBJECT
  public:
    // Yes/No question with the caption; true for Yes.
    using Confirm = std::function<bool(const QString& text, const QString& caption)>;
    // Shows the number dialog's refusals.
    using MessageBox = std::function<void(const QString& text)>;
    // Runs the number dialog; true when it was closed with OK.
    using NumberEntry = std::function<bool(CAddPhoneDlg& dialog)>;

    CNumberListPage(const NumberPageConfig& config, CommandEngine& engine,
                    const IDeviceList& devices, QWidget* parent = nullptr);

    // Test seams; the defaults are the modal boxes and exec().
    void SetConfirm(Confirm confirm);
    void SetMessageBox(MessageBox messageBox);
    void SetNumberEntry(NumberEntry entry);

    const NumberPageConfig& Config() const { return config_; }
    CReportCtrl* List() const { return list_; }
    // The numbers as the rows hold them (GBK), top to bottom.
    std::string RowNumber(int row) const;

    // The buttons.
    void OnAddNumber();
    void OnDeleteNumbers();
    void OnResetNumbers();
    // Logs the busy line while a job runs: checked before anything that
    // could wait, and again when the job is submitted.
    bool RefusedWhileBusy();
    void Submit(CommandKind kind, const std::string& command, const char* queued,
                const char* notQueued);

    // Whether the numbers of an add command (prefix, numbers separated by
    // commas, "\r") are fit to send: none repeated, the last one not empty,
    // none of 100 or more characters. The kind chooses the prefix.
    static bool CheckNumberList(std::string_view command, int listKind);

    // The terminal accepted a command of this page's list; notices of
    // another list are ignored. The add and delete handlers update the
    // settings record under its lock.
    void OnNumbersAdded(const ListChangeNotice& notice);
    void OnNumbersDeleted(const ListChangeNotice& notice);
    void OnNumbersReset(const ListChangeNotice& notice);

    // Shows the non-empty entries in array order; the caller holds the
    // settings lock.
    void FillNumberList(const NumberList& numbers);

  private:
    void AppendNumberRow(const std::string& number);
    int FindNumberRow(const std::string& number) const;
    void LogText(const char* utf8);
    bool Confirmed(const QString& text);

    // Constant after construction.
    const NumberPageConfig& config_;
    CommandEngine& engine_;
    const IDeviceList& devices_;
    CReportCtrl* list_;

    Confirm confirm_;
    MessageBox messageBox_;
    NumberEntry numberEntry_;
};

class CAdminNoDlg final : public CNumberListPage {
    Q_OBJECT
  public:
    CAdminNoDlg(CommandEngine& engine, const IDeviceList& devices, QWidget* parent = nullptr);
};

class CLrmNoDlg final : public CNumberListPage {
    Q_OBJECT
  public:
    CLrmNoDlg(CommandEngine& engine, const IDeviceList& devices, QWidget* parent = nullptr);
};

class CBackNoDlg final : public CNumberListPage {
    Q_OBJECT
  public:
    CBackNoDlg(CommandEngine& engine, const IDeviceList& devices, QWidget* parent = nullptr);
};

}  // namespace pelmora
