#pragma once
// The unknown-files dialog: the person picks which top-level files and folders of a
// profile that no component covers go into the backup or come back from it.

#include "config/SharedState.h"

#include <QDialog>

#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QLabel;
class QListWidget;
class QPushButton;

namespace tessarin {

class TUnknowFilesFM : public QDialog {
    Q_OBJECT

public:
    explicit TUnknowFilesFM(QWidget* parent = nullptr);

    // Rebuilds the list from the core's items, one marked line each, in order; ticks
    // "Select/Deselect all" and drops the stored marks.
    void SetItems(const std::vector<TUnknowItem>& items);
    int ItemCount() const;

    // Runs the dialog modally; true for OK.
    bool Run();

    // The marked items, in list order. Chosen by name, so the caller can match them
    // against a fresh scan of the profile.
    std::vector<TUnknowItem> CheckedItems() const;
    std::vector<std::string> CheckedNames() const;

    // The marks OK confirmed, "true" or "false" per line; nothing until the dialog
    // has been shown since the last rebuild.
    const std::optional<std::vector<std::string>>& StoredMarks() const { return storedMarks_; }
    void ResetStoredMarks();

    // "name", or "name (directory)" for a folder.
    static QString LineText(const TUnknowItem& item);

public slots:
    void accept() override;
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Prepare();
    void SetAllMarks(bool marked);
    std::vector<std::string> CurrentMarks() const;
    void PutMarks(const std::vector<std::string>& marks);

    QLabel* DescriptionLB;
    QListWidget* UnknowFilesCLB;
    QCheckBox* SelectAllCB;
    QPushButton* OkBT;
    QPushButton* CancelBT;

    std::optional<std::vector<std::string>> storedMarks_;
    bool storedSelectAll_ = true;
};

} // namespace tessarin
