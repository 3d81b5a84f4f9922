// The "Check Collection" window: a directory (or one archive) checked on a
// pool of worker threads, every image a row of a sortable table as its file
// finishes, a summary line, and the actions on the rows: Repair Headers,
// Rename To List Names and Export Report. The check and the actions are the
// collection core's; this window only starts them and shows what they give.
#pragma once

#include "checksumwin/workerthread.h"
#include "collection/check.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QWidget>

#include <deque>
#include <memory>
#include <string>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;
class QTimer;

namespace kelvo {

class CheckTableModel;
class LoadedLists;
class SharedCache;

class CollectionWindow : public QWidget {
    Q_OBJECT
public:
    // Owned by `parent` and kept above it; created hidden. Images are held
    // against `lists` (which outlive the window) and hashed through their
    // cache; without them no list columns are filled and nothing is cached.
    explicit CollectionWindow(QWidget* parent = nullptr, LoadedLists* lists = nullptr);
    ~CollectionWindow() override;

    // Puts `path` (a directory, an image or a .zip archive) in the Directory
    // field.
    void setDirectory(const std::string& path);
    // Puts `path` in the Directory field and checks it at once.
    void checkPath(const std::string& path);

    [[nodiscard]] const CheckTableModel& model() const { return *model_; }
    // Whether a check (or a look at repaired files) runs or waits for the lists.
    [[nodiscard]] bool busy() const { return waiting_ || run_ != nullptr; }

signals:
    // A row of a plain image file was double-clicked: show it in the header window.
    void imageOpened(const std::string& path);
    // A failure was shown to the user; carries the message text.
    void failureReported(const QString& message);
    // A check ended (finished or cancelled) and its rows are all shown.
    void checkEnded();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // Fitting a column measures the rows in view and this many more.
    static constexpr int kRowsFitted = 100;

    // A check under way: the whole directory, or the files just repaired.
    struct Run {
        std::unique_ptr<CollectionCheck> check;
        RowOrder order;
        // For a look at repaired files: the table row of each checked path.
        std::vector<std::size_t> targets;
        QElapsedTimer clock;
    };

    void createControls();
    void layOutControls();
    void connectHandlers();

    void browse();
    // Running a check (checkrun.cpp).
    void check();
    void cancel();
    // Starts what waits once the lists are loaded and the cache is open.
    void startWhenReady();
    void start(CheckOptions options, std::vector<std::size_t> targets);
    // Takes what the workers made; called on the window's thread after
    // they said rows wait, never blocking.
    void drain();
    // Shows rows taken, a slice at a time, so the event loop keeps going.
    void showPending();
    void finish();
    void showProgress();
    // Sizes the columns to what they show, within reason.
    void fitColumns();
    void showSummary();
    void setRunning(bool running);
    void openRow(const QModelIndex& index);

    // The actions (collectionactions.cpp).
    [[nodiscard]] std::vector<std::size_t> selectedRows() const;
    void repairHeaders();
    void renameToListNames();
    void exportReport();

    template <typename Handler> void guarded(Handler&& handler);
    void reportFailure(const QString& message);

    QLabel* lblDirectory;
    QLineEdit* txtDirectory;
    QPushButton* cmdBrowse;
    QCheckBox* chkSubdirectories;
    QCheckBox* chkTrustArchives;
    QPushButton* cmdCheck;
    QTableView* tblRows;
    QLabel* lblSummary;
    QWidget* progressRow_;
    QProgressBar* barProgress;
    QLabel* lblProgress;
    QPushButton* cmdCancel;
    QPushButton* cmdRepair;
    QPushButton* cmdRename;
    QPushButton* cmdExport;
    QPushButton* cmdClose;
    QTimer* progressTimer_;

    CheckTableModel* model_;
    QSortFilterProxyModel* sorted_;
    QPointer<LoadedLists> lists_;
    bool listsUsed_ = false; // the rows shown were held against some list

    // What waits for the lists (or the cache) before it starts.
    bool waiting_ = false;
    CheckOptions waitingOptions_;
    std::vector<std::size_t> waitingTargets_;
    bool openingCache_ = false;

    std::shared_ptr<SharedCache> cache_; // before run_: the check hashes through it
    std::unique_ptr<Run> run_;
    std::deque<CheckRow> pending_; // taken, not yet in the table
    bool drainPosted_ = false;
    bool finishing_ = false;
    WorkerThread worker_; // last: it stops before what its jobs use goes
};

} // namespace kelvo
