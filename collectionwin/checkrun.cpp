// Running a check in the Check Collection window: waiting for the lists
// and the cache, taking the rows the workers made as they say some wait,
// putting them in the table a slice at a time, and the progress line.
#include "collectionwin/collectionwindow.h"

#include "checksumwin/loadedlists.h"
#include "collection/summary.h"
#include "collectionwin/checktablemodel.h"
#include "collectionwin/progresstext.h"
#include "windowkit/failure.h"
#include "windowkit/windowkit.h"

#include <QCheckBox>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTimer>

namespace kelvo {

namespace {

// Rows put in the table per turn of the event loop: a millisecond or two of
// work, so 10,000 rows answered by the cache at once never stall the window.
constexpr std::size_t kRowsPerSlice = 100;
constexpr int kProgressSteps = 1000;

} // namespace

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
    // Reached from the lists' signal too: a failure to start (no thread to
    // be had) is told here, never thrown through the event loop.
    if (const auto failure = attempt([&] {
            run_->check = std::make_unique<CollectionCheck>(std::move(options), std::move(lists),
                                                            cache_ ? cache_->ifOpen() : nullptr);
        })) {
        run_.reset();
        setRunning(false);
        emit checkEnded();
        reportFailure(QStringLiteral("The check could not start: %1").arg(*failure));
        return;
    }
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

} // namespace kelvo
