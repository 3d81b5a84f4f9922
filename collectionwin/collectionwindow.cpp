#include "collectionwin/collectionwindow.h"

#include "checksumwin/loadedlists.h"
#include "collection/summary.h"
#include "collectionwin/checktablemodel.h"
#include "collectionwin/progresstext.h"
#include "windowkit/failure.h"
#include "windowkit/windowkit.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace kelvo {

namespace {

// Rows put in the table per turn of the event loop: a few milliseconds of
// work, so 10,000 rows answered by the cache at once never stall the window.
constexpr std::size_t kRowsPerSlice = 100;
constexpr int kProgressIntervalMs = 250;
constexpr int kRowsFitted = 100;
constexpr int kProgressSteps = 1000;

} // namespace

CollectionWindow::CollectionWindow(QWidget* parent, LoadedLists* lists)
    : QWidget(parent, Qt::Window), lists_(lists) {
    setWindowTitle(QStringLiteral("Check Collection"));
    createControls();
    layOutControls();
    connectHandlers();
    setRunning(false);
}

CollectionWindow::~CollectionWindow() {
    // The workers post to this window: they stop before it goes.
    run_.reset();
}

void CollectionWindow::createControls() {
    lblDirectory = makeNamed<QLabel>("lblDirectory", this, QStringLiteral("&Directory:"));
    txtDirectory = makeNamed<QLineEdit>("txtDirectory", this);
    txtDirectory->setAccessibleName(QStringLiteral("Directory"));
    lblDirectory->setBuddy(txtDirectory);
    cmdBrowse = makeNamed<QPushButton>("cmdBrowse", this, QStringLiteral("Browse..."));
    chkSubdirectories =
        makeNamed<QCheckBox>("chkSubdirectories", this, QStringLiteral("Include subdirectories"));
    chkSubdirectories->setChecked(true);
    chkTrustArchives =
        makeNamed<QCheckBox>("chkTrustArchives", this, QStringLiteral("Trust archive checksums"));
    chkTrustArchives->setToolTip(
        QStringLiteral("Match archive members by their size and the CRC32 the archive stores, "
                       "without inflating them; their SHA-1 is not computed"));
    cmdCheck = makeNamed<QPushButton>("cmdCheck", this, QStringLiteral("Check"));
    cmdCheck->setDefault(true);

    model_ = new CheckTableModel(this);
    sorted_ = new QSortFilterProxyModel(this);
    sorted_->setSourceModel(model_);
    sorted_->setSortRole(CheckTableModel::kSortRole);
    sorted_->setSortCaseSensitivity(Qt::CaseInsensitive);
    sorted_->setSortLocaleAware(true);
    tblRows = makeNamed<QTableView>("tblRows", this);
    tblRows->setModel(sorted_);
    tblRows->setAccessibleName(QStringLiteral("Images"));
    tblRows->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblRows->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tblRows->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblRows->setWordWrap(false);
    tblRows->setAlternatingRowColors(true);
    tblRows->verticalHeader()->hide();
    // Rows keep one height, so the view never measures 10,000 of them.
    tblRows->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    tblRows->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    // No column sorted until the user asks: rows stay in the order found.
    tblRows->horizontalHeader()->setSortIndicatorClearable(true);
    tblRows->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    tblRows->setSortingEnabled(true);
    tblRows->horizontalHeader()->setHighlightSections(false);
    // Fitting a column measures the rows shown and this many more, not all
    // 10,000: measuring them all stalls the window for tens of milliseconds.
    tblRows->horizontalHeader()->setResizeContentsPrecision(kRowsFitted);

    lblSummary = makeNamed<QLabel>("lblSummary", this);
    lblSummary->setTextFormat(Qt::PlainText);
    lblSummary->setWordWrap(true);
    lblSummary->setAccessibleDescription(QStringLiteral("Summary"));
    // Reached with Tab, so a screen reader reads it.
    lblSummary->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    barProgress = makeNamed<QProgressBar>("barProgress", this);
    barProgress->setTextVisible(false);
    barProgress->setAccessibleName(QStringLiteral("Progress"));
    lblProgress = makeNamed<QLabel>("lblProgress", this);
    lblProgress->setTextFormat(Qt::PlainText);
    cmdCancel = makeNamed<QPushButton>("cmdCancel", this, QStringLiteral("Cancel"));

    cmdRepair = makeNamed<QPushButton>("cmdRepair", this, QStringLiteral("Repair Headers..."));
    cmdRename =
        makeNamed<QPushButton>("cmdRename", this, QStringLiteral("Rename To List Names..."));
    cmdExport = makeNamed<QPushButton>("cmdExport", this, QStringLiteral("Export Report..."));
    cmdClose = makeNamed<QPushButton>("cmdClose", this, QStringLiteral("Close"));
    progressTimer_ = new QTimer(this);
    progressTimer_->setInterval(kProgressIntervalMs);
}

void CollectionWindow::layOutControls() {
    auto* where = new QHBoxLayout;
    where->addWidget(lblDirectory);
    where->addWidget(txtDirectory, 1);
    where->addWidget(cmdBrowse);

    auto* how = new QHBoxLayout;
    how->addWidget(chkSubdirectories);
    how->addSpacing(12);
    how->addWidget(chkTrustArchives);
    how->addStretch(1);
    how->addWidget(cmdCheck);

    // One row, shown only while a check runs.
    progressRow_ = new QWidget(this);
    auto* progress = new QHBoxLayout(progressRow_);
    progress->setContentsMargins(0, 0, 0, 0);
    progress->addWidget(barProgress, 1);
    progress->addWidget(lblProgress, 2);
    progress->addWidget(cmdCancel);

    auto* actions = new QHBoxLayout;
    actions->addWidget(cmdRepair);
    actions->addWidget(cmdRename);
    actions->addWidget(cmdExport);
    actions->addStretch(1);
    actions->addWidget(cmdClose);

    auto* all = new QVBoxLayout(this);
    all->addLayout(where);
    all->addLayout(how);
    all->addWidget(tblRows, 1);
    all->addWidget(progressRow_);
    all->addWidget(lblSummary);
    all->addLayout(actions);

    // Wide enough for every caption of the table's header at once.
    const QHeaderView* header = tblRows->horizontalHeader();
    int columns = 0;
    for (int column = 0; column < header->count(); ++column)
        columns += header->sectionSizeHint(column);
    tblRows->horizontalHeader()->resizeSection(0, 2 * header->sectionSizeHint(0));
    resize(std::max(columns + header->sectionSizeHint(0) + 40, 760), fontMetrics().height() * 30);
}

void CollectionWindow::connectHandlers() {
    const auto route = [this](QPushButton* button, void (CollectionWindow::*handler)()) {
        connect(button, &QPushButton::clicked, this,
                [this, handler] { guarded([this, handler] { (this->*handler)(); }); });
    };
    route(cmdBrowse, &CollectionWindow::browse);
    route(cmdCheck, &CollectionWindow::check);
    route(cmdCancel, &CollectionWindow::cancel);
    route(cmdRepair, &CollectionWindow::repairHeaders);
    route(cmdRename, &CollectionWindow::renameToListNames);
    route(cmdExport, &CollectionWindow::exportReport);
    connect(cmdClose, &QPushButton::clicked, this, &QWidget::close);
    connect(txtDirectory, &QLineEdit::returnPressed, cmdCheck, &QPushButton::click);
    connect(tblRows, &QTableView::doubleClicked, this, &CollectionWindow::openRow);
    connect(progressTimer_, &QTimer::timeout, this, &CollectionWindow::showProgress);
    if (lists_)
        connect(lists_, &LoadedLists::changed, this, &CollectionWindow::startWhenReady);
    // Escape cancels a check running, else puts the window away.
    connect(new QShortcut(QKeySequence::Cancel, this), &QShortcut::activated, this, [this] {
        if (busy())
            cmdCancel->click();
        else
            close();
    });
}

template <typename Handler> void CollectionWindow::guarded(Handler&& handler) {
    if (const auto failure = attempt(std::forward<Handler>(handler)))
        reportFailure(*failure);
}

void CollectionWindow::reportFailure(const QString& message) {
    emit failureReported(message);
    showFailure(this, message);
}

void CollectionWindow::setDirectory(const std::string& path) {
    txtDirectory->setText(QFile::decodeName(QByteArray::fromStdString(path)));
}

void CollectionWindow::checkPath(const std::string& path) {
    // What runs is dropped at once (its threads stop within a chunk).
    waiting_ = false;
    run_.reset();
    pending_.clear();
    finishing_ = false;
    progressTimer_->stop();
    setRunning(false);
    setDirectory(path);
    check();
}

void CollectionWindow::browse() {
    const QString chosen = QFileDialog::getExistingDirectory(
        this, QStringLiteral("Check Collection"), txtDirectory->text());
    if (!chosen.isEmpty())
        txtDirectory->setText(chosen);
}

void CollectionWindow::check() {
    if (busy())
        return;
    const QString directory = txtDirectory->text();
    if (directory.isEmpty()) {
        reportFailure(QStringLiteral("Type or browse to the directory to check."));
        return;
    }
    CheckOptions options;
    options.paths = {QFile::encodeName(directory).toStdString()};
    options.recursive = chkSubdirectories->isChecked();
    options.trustArchiveChecksums = chkTrustArchives->isChecked();
    model_->clear();
    pending_.clear();
    lblSummary->clear();
    start(std::move(options), {});
}

void CollectionWindow::start(CheckOptions options, std::vector<std::size_t> targets) {
    waitingOptions_ = std::move(options);
    waitingTargets_ = std::move(targets);
    waiting_ = true;
    setRunning(true);
    if (lists_)
        lists_->start(); // a no-op once the program has started them
    startWhenReady();
}

void CollectionWindow::startWhenReady() {
    if (!waiting_)
        return;
    if (lists_ && lists_->loading()) {
        lblProgress->setText(QStringLiteral("Waiting for the checksum lists to load..."));
        return; // changed() comes back here
    }
    if (lists_ && !cache_)
        cache_ = lists_->cache();
    if (cache_ && !cache_->ifOpen()) {
        lblProgress->setText(QStringLiteral("Opening the hash cache..."));
        if (!openingCache_) {
            openingCache_ = true;
            worker_.post([this, cache = cache_] {
                try {
                    (void)cache->open();
                } catch (...) {
                    // Left closed: the check then runs without it.
                }
                QMetaObject::invokeMethod(
                    this,
                    [this] {
                        openingCache_ = false;
                        if (cache_ && !cache_->ifOpen())
                            cache_.reset();
                        startWhenReady();
                    },
                    Qt::QueuedConnection);
            });
        }
        return;
    }
    waiting_ = false;
    ListSet lists = lists_ ? *lists_->lists() : ListSet();
    if (waitingTargets_.empty())
        listsUsed_ = !lists.empty();
    run_ = std::make_unique<Run>();
    run_->targets = std::move(waitingTargets_);
    CheckOptions options = std::move(waitingOptions_);
    options.background = true; // the window's thread first: it never stalls
    options.rowsWaiting = [this] {
        QMetaObject::invokeMethod(this, &CollectionWindow::drain, Qt::QueuedConnection);
    };
    finishing_ = false;
    run_->clock.start();
    run_->check = std::make_unique<CollectionCheck>(std::move(options), std::move(lists),
                                                    cache_ ? cache_->ifOpen() : nullptr);
    progressTimer_->start();
    showProgress();
}

void CollectionWindow::cancel() {
    if (waiting_) {
        waiting_ = false;
        setRunning(false);
        emit checkEnded();
        return;
    }
    if (run_) {
        // The workers stop at their next chunk; the rows made so far come
        // with the last batch.
        run_->check->cancel();
        lblProgress->setText(QStringLiteral("Cancelling..."));
        cmdCancel->setEnabled(false);
    }
}

void CollectionWindow::drain() {
    if (!run_ || finishing_)
        return;
    CheckBatch batch = run_->check->take();
    finishing_ = batch.finished;
    std::vector<CheckRow> rows = run_->order.add(std::move(batch));
    if (!run_->targets.empty()) {
        // Files looked at again after a repair: each takes its old row's place.
        for (CheckRow& row : rows) {
            if (row.root >= run_->targets.size())
                continue;
            const std::size_t target = run_->targets[row.root];
            const CheckRow& old = model_->rows().at(target);
            row.file = old.file;
            row.root = old.root;
            row.fileIndex = old.fileIndex;
            model_->replace(target, std::move(row));
        }
    } else {
        // The walk runs ahead of the workers: its count is known early, so
        // the table's room is made while it holds few rows.
        model_->reserve(std::size_t(run_->check->progress().filesTotal));
        std::move(rows.begin(), rows.end(), std::back_inserter(pending_));
    }
    showPending();
}

void CollectionWindow::showPending() {
    std::vector<CheckRow> slice;
    slice.reserve(std::min(pending_.size(), kRowsPerSlice));
    while (!pending_.empty() && slice.size() < kRowsPerSlice) {
        slice.push_back(std::move(pending_.front()));
        pending_.pop_front();
    }
    // The columns follow the first rows' widths; later ones wait for the end.
    const bool early = model_->rowCount() < kRowsFitted && !slice.empty();
    model_->append(std::move(slice));
    if (early)
        fitColumns();
    if (!pending_.empty()) {
        if (!drainPosted_) {
            drainPosted_ = true;
            QMetaObject::invokeMethod(
                this,
                [this] {
                    drainPosted_ = false;
                    showPending();
                },
                Qt::QueuedConnection);
        }
        return;
    }
    if (finishing_ && run_)
        finish();
}

void CollectionWindow::finish() {
    showProgress();
    run_.reset();
    finishing_ = false;
    progressTimer_->stop();
    setRunning(false);
    fitColumns();
    tblRows->clearSelection();
    tblRows->setCurrentIndex({});
    showSummary();
    if (lists_)
        lists_->tellCacheProblem();
    emit checkEnded();
}

void CollectionWindow::showProgress() {
    if (!run_)
        return;
    const CheckProgress progress = run_->check->progress();
    if (progress.bytesTotal == 0) {
        barProgress->setRange(0, progress.finished ? kProgressSteps : 0);
        barProgress->setValue(progress.finished ? kProgressSteps : 0);
    } else {
        barProgress->setRange(0, kProgressSteps);
        barProgress->setValue(
            int(double(progress.bytesDone) / double(progress.bytesTotal) * kProgressSteps));
    }
    if (run_->targets.empty() && model_->rowCount() > 0)
        showSummary();       // of the rows so far
    if (!progress.cancelled) // "Cancelling..." stays until the end
        lblProgress->setText(
            fromUtf8(progressText(progress, double(run_->clock.nsecsElapsed()) / 1e9)));
}

void CollectionWindow::fitColumns() {
    // A long cell (a save type's explanation, a deep path) is cut off
    // rather than widening its column past this; its tooltip shows it whole.
    const int widest = fontMetrics().averageCharWidth() * 36;
    QHeaderView* header = tblRows->horizontalHeader();
    for (int column = 0; column < header->count(); ++column) {
        tblRows->resizeColumnToContents(column);
        if (column != int(CheckColumn::Sha1) && header->sectionSize(column) > widest)
            header->resizeSection(column, widest);
    }
}

void CollectionWindow::showSummary() {
    lblSummary->setText(fromUtf8(summaryText(summarize(model_->rows(), listsUsed_))));
}

void CollectionWindow::setRunning(bool running) {
    for (QWidget* control : std::initializer_list<QWidget*>{
             txtDirectory, cmdBrowse, chkSubdirectories, chkTrustArchives, cmdCheck, cmdRepair,
             cmdRename, cmdExport})
        control->setEnabled(!running);
    progressRow_->setVisible(running);
    cmdCancel->setEnabled(running);
    if (running) {
        barProgress->setRange(0, 0);
        lblProgress->clear();
        cmdCancel->setFocus();
    }
}

void CollectionWindow::openRow(const QModelIndex& index) {
    if (!index.isValid())
        return;
    const std::size_t row = std::size_t(sorted_->mapToSource(index).row());
    if (row >= model_->rows().size())
        return;
    const CheckRow& shown = model_->rows()[row];
    if (shown.inArchive() || !shown.readable())
        return;
    emit imageOpened(shown.path);
}

void CollectionWindow::closeEvent(QCloseEvent* event) {
    // Closing stops the check; the rows done stay for when it is shown again.
    if (busy())
        cancel();
    QWidget::closeEvent(event);
}

} // namespace kelvo
