// The warning workspace ("预警发布"): the content, from an approved template
// or typed, with its GBK size; the targets (regions of the registry, tags,
// saved target groups, the device list's ticked rows) with how many are
// online, offline and never seen; the kind and validity; then the send, the
// live outcomes in place, and the record when the job ends.
#pragma once

#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Targets.h"
#include "WarningDesk.h"

class QBoxLayout;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QSplitter;
class QStackedWidget;
class QTreeView;

namespace pelmora {

namespace store {
class Store;
}
namespace dispatch {
class RegistryKeeper;
class WarningDesk;
}  // namespace dispatch
class CGroupJobPanel;
class GroupJob;
class GroupLauncher;
class IDeviceList;
class RegionTreeModel;
class ReviewBar;
class ServiceSettings;

class WarningWorkspace final : public QWidget {
    Q_OBJECT
  public:
    struct Hooks {
        std::function<void(const QString& text, const QString& caption)> inform;
        std::function<void(const QString& line)> log;
        std::function<bool()> serviceRunning;
        // Whether a ticked row of the device list is shown.
        std::function<bool(int row)> rowShown;
        // Opens the record of the job that just ended.
        std::function<void()> openRecord;
        // Asks for a name (templates, target groups); empty: cancelled.
        std::function<QString(const QString& label, const QString& suggested)> askName;
        // Sends a reviewed warning the operator confirmed at once: its job,
        // or null when the engine is busy (it then goes when it can).
        std::function<std::shared_ptr<GroupJob>()> sendReviewed;
        // Asks before a waiting warning is refused; true: refuse it.
        std::function<bool(std::int64_t warningId)> confirmRefuse;
    };

    WarningWorkspace(store::Store& store, const dispatch::RegistryKeeper& keeper,
                     GroupLauncher& launcher, const IDeviceList& devices,
                     const ServiceSettings& settings, Hooks hooks, QWidget* parent = nullptr);
    ~WarningWorkspace() override;

    // The warnings waiting for review ("待审核"); null: none come.
    void SetDesk(dispatch::WarningDesk* desk, std::function<std::shared_ptr<GroupJob>()> send);
    ReviewBar* Reviews() const { return review_; }
    // Takes a waiting warning into the form: its content, and its terminals
    // as the targets, their regions marked on the tree.
    bool TakeReview(std::int64_t warningId);
    void LeaveReview();
    bool RefuseReview(std::int64_t warningId);

    // The region tree to choose from, with its check boxes.
    void SetRegionModel(RegionTreeModel* model);
    // Replaceable for tests: the name question.
    void SetAskName(std::function<QString(const QString&, const QString&)> ask) {
        hooks_.askName = std::move(ask);
    }
    // Where the device list goes while the workspace is shown.
    QBoxLayout* DeviceSlot() const { return deviceSlot_; }
    // The form beside the device list.
    QSplitter* Splitter() const { return split_; }

    // The targets as chosen now, and their terminals.
    dispatch::TargetChoice Choice() const;
    std::vector<std::uint32_t> Targets() const;
    // Counts the targets again (after the registry or a choice changed).
    void Recount();
    // Sends the warning to the targets after the launcher's confirmation;
    // false when nothing was sent (the reason is told).
    bool Publish();
    // The launcher started this job: true when it was this workspace's,
    // which then shows it in place.
    bool Claim(const std::shared_ptr<GroupJob>& job);
    // Back from the outcomes to the compose form.
    void BackToCompose();

    // Templates and target groups.
    void ApplyTemplate(int index);
    bool SaveTemplate();
    void DeleteTemplate();
    void ApplyGroup(int index);
    bool SaveGroup();
    void DeleteGroup();

    QPlainTextEdit* Content() const { return content_; }
    QLabel* MeasureLabel() const { return measure_; }
    QLabel* CountLabel() const { return count_; }
    QComboBox* TemplateBox() const { return templates_; }
    QComboBox* GroupBox() const { return groups_; }
    QLineEdit* TagsBox() const { return tags_; }
    QCheckBox* TickedCheck() const { return ticked_; }
    QRadioButton* Mp3Choice() const { return mp3_; }
    QComboBox* TitleBox() const { return title_; }
    QSpinBox* ValidityBox() const { return validity_; }
    QPushButton* PublishButton() const { return publish_; }
    QTreeView* RegionTree() const { return regions_; }
    CGroupJobPanel* Outcomes() const { return panel_; }
    bool ShowingOutcomes() const;

  private:
    bool PublishReviewed(const dispatch::Review& review, const std::string& text,
                         const std::vector<std::uint32_t>& targets);
    void MarkReviewRegions();
    void LoadTemplates();
    void LoadGroups();
    QString TargetsText() const;
    void Tell(const QString& text) const;

    store::Store& store_;
    const dispatch::RegistryKeeper& keeper_;
    GroupLauncher& launcher_;
    const IDeviceList& devices_;
    const ServiceSettings& settings_;
    Hooks hooks_;
    RegionTreeModel* regionModel_ = nullptr;
    std::vector<std::string> groupRegions_;  // those of the chosen target group
    std::vector<std::uint32_t> groupDevices_;
    bool launching_ = false;
    std::vector<std::uint32_t> reviewTargets_;  // those of the warning in review

    QSplitter* split_;
    QStackedWidget* sides_;
    ReviewBar* review_;
    QComboBox* templates_;
    QPlainTextEdit* content_;
    QLabel* measure_;
    QTreeView* regions_;
    QLineEdit* tags_;
    QComboBox* groups_;
    QCheckBox* ticked_;
    QLabel* count_;
    QRadioButton* play_;
    QRadioButton* mp3_;
    QComboBox* title_;
    QSpinBox* validity_;
    QPushButton* publish_;
    CGroupJobPanel* panel_;
    QLabel* done_;
    QPushButton* record_;
    QBoxLayout* deviceSlot_;
};

}  // namespace pelmora
