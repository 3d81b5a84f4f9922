// The "ROM List Generator" window: browse to a directory of .bin images,
// tick the columns wanted, and append a list of them to list.txt in the
// working directory. The List Name column holds each image against the
// checksum lists.
#pragma once

#include "windowkit/progress.h"
#include "listwin/listfile.h"

#include <QPointer>
#include <QWidget>

#include <string>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kelvo {

class DirectoryList;
class DriveList;
class FileList;
class LoadedLists;

class RomListWindow : public QWidget {
    Q_OBJECT
public:
    // Owned by `parent` and kept above it; created hidden. The List Name
    // column's matches come from `lists`, which outlive the window; without
    // them that column is empty.
    explicit RomListWindow(QWidget* parent = nullptr, LoadedLists* lists = nullptr);

    // The columns ticked, in row order.
    [[nodiscard]] std::vector<Column> chosenColumns() const;
    // Where "Make List" appends: list.txt in the working directory.
    [[nodiscard]] static std::string listFilePath();
    // The status line under the controls.
    [[nodiscard]] QString statusText() const;
    // A "Make List" run that lasts this long shows its progress and can be
    // cancelled; 500 ms unless set.
    void setProgressDelay(int milliseconds) { progressDelayMs_ = milliseconds; }

signals:
    // A failure was shown to the user; carries the message text.
    void failureReported(const QString& message);

protected:
    // A dropped directory becomes the lists' directory.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void createControls();
    void layOutControls();
    void connectHandlers();

    void Form_Load();
    void refreshLists();
    void Drive2_Change();
    void Dir2_Change();
    void cmdMake_Click();
    void cmdBack_Click();

    void driveRemoved(const std::string& root);
    // Reads every listed file's header (and, for `withListNames`, holds it
    // against the checksum lists); false when the user cancelled or a
    // termination signal arrived.
    bool collectEntries(std::vector<ListEntry>& entries, std::vector<std::string>& unreadable,
                        bool withListNames);
    void showStatus(const QString& text);
    void tellNotFollowed(const QString& message);
    template <typename Handler> void guarded(Handler&& handler);
    void reportFailure(const QString& message);

    QLabel* Label1;
    QCheckBox* chkFile;
    QLabel* Label2;
    QCheckBox* chkHead;
    QLabel* Label3;
    QCheckBox* chkCart;
    QLabel* Label4;
    QCheckBox* chkBytes;
    QLabel* Label5;
    QCheckBox* chkSize;
    QLabel* Label6;
    QCheckBox* chkPub;
    QLabel* Label7;
    QCheckBox* chkList;
    DriveList* Drive2;
    QPushButton* cmdMake;
    QPushButton* cmdBack;
    DirectoryList* Dir2;
    FileList* File2;
    QLineEdit* txtRom;
    QLabel* lblStatus;
    QString statusFull_;
    int progressDelayMs_ = kProgressAfterMs;
    QPointer<LoadedLists> lists_;
};

} // namespace kelvo
