// The Check Collection window's actions on its rows: Repair Headers, Rename
// To List Names and Export Report. Each is planned by the core, shown to the
// user (nothing changes until they say yes), then carried out one file at a
// time, every failure told with its path and reason.
#include "collectionwin/collectionwindow.h"

#include "collection/actions.h"
#include "collection/report.h"
#include "collectionwin/checktablemodel.h"
#include "windowkit/failure.h"
#include "windowkit/windowkit.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QSortFilterProxyModel>
#include <QStringList>
#include <QTableView>

#include <set>

namespace kelvo {

namespace {

// A message box names this many lines of a list; the rest are behind its
// details button.
constexpr qsizetype kLinesShown = 15;

struct Listing {
    QString shown;   // the first lines, and how many more there are
    QString details; // every line, when some were left out of `shown`
};

Listing listing(const QStringList& lines) {
    if (lines.size() <= kLinesShown)
        return {lines.join(u'\n'), {}};
    const qsizetype more = lines.size() - kLinesShown;
    return {lines.first(kLinesShown).join(u'\n') +
                QStringLiteral("\n... and %1 more (see the details)").arg(more),
            lines.join(u'\n')};
}

QStringList texts(const std::vector<std::string>& lines) {
    QStringList all;
    for (const std::string& line : lines)
        all << fromUtf8(line);
    return all;
}

QString files(std::size_t count) {
    return count == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(count);
}

} // namespace

std::vector<std::size_t> CollectionWindow::selectedRows() const {
    std::set<std::size_t> rows; // in the model's order, whatever the sorting
    for (const QModelIndex& index : tblRows->selectionModel()->selectedRows())
        rows.insert(std::size_t(sorted_->mapToSource(index).row()));
    return {rows.begin(), rows.end()};
}

void CollectionWindow::repairHeaders() {
    const std::vector<std::size_t> selected = selectedRows();
    const std::vector<CheckRow>& rows = model_->rows();
    const RepairPlans plans = planRepairs(rows, selected);
    const Listing lines = listing(texts(repairLines(rows, plans)));
    if (plans.repairs.empty()) {
        if (plans.skipped.empty())
            showInformation(this, QStringLiteral("No header there needs repair."));
        else
            showInformation(this,
                            QStringLiteral("No header can be repaired here:\n\n") + lines.shown,
                            lines.details);
        return;
    }
    std::set<std::string> planned;
    for (const PlannedRepair& repair : plans.repairs)
        planned.insert(repair.path);
    if (!confirm(this,
                 QStringLiteral("Repair the headers of %1? Each is written in place.\n\n")
                         .arg(files(planned.size())) +
                     lines.shown,
                 lines.details))
        return;

    QStringList failures;
    CheckOptions recheck;
    recheck.recursive = false;
    std::vector<std::size_t> targets;
    for (const PlannedRepair& repair : plans.repairs) {
        if (const auto failure = attempt([&repair] { applyRepair(repair); })) {
            failures << *failure;
            continue;
        }
        recheck.paths.push_back(repair.path);
        targets.push_back(repair.row);
    }
    if (!failures.isEmpty()) {
        const Listing failed = listing(failures);
        emit failureReported(failures.join(u'\n'));
        showFailure(this,
                    QStringLiteral("%1 could not be repaired:\n\n").arg(files(failures.size())) +
                        failed.shown,
                    failed.details);
    }
    // The repaired files' rows are made afresh: their checksums and list
    // standing changed with their bytes.
    if (!targets.empty())
        start(std::move(recheck), std::move(targets));
}

void CollectionWindow::renameToListNames() {
    const std::vector<std::size_t> selected = selectedRows();
    const RenamePlans plans = planRenames(model_->rows(), selected);
    const Listing lines = listing(texts(renameLines(model_->rows(), plans)));
    if (plans.renames.empty()) {
        if (plans.skipped.empty())
            showInformation(this, QStringLiteral("No image there has another name in the lists."));
        else
            showInformation(this, QStringLiteral("No image can be renamed here:\n\n") + lines.shown,
                            lines.details);
        return;
    }
    if (!confirm(this,
                 QStringLiteral("Rename %1 to the lists' names? No file is replaced.\n\n")
                         .arg(files(plans.renames.size())) +
                     lines.shown,
                 lines.details))
        return;

    QStringList failures;
    for (const PlannedRename& rename : plans.renames) {
        if (const auto failure = attempt([&rename] { (void)applyRename(rename); })) {
            failures << *failure;
            continue;
        }
        model_->replace(rename.row, renamedRow(model_->rows()[rename.row], rename.newName));
    }
    if (!failures.isEmpty()) {
        const Listing failed = listing(failures);
        emit failureReported(failures.join(u'\n'));
        showFailure(this,
                    QStringLiteral("%1 could not be renamed:\n\n").arg(files(failures.size())) +
                        failed.shown,
                    failed.details);
    }
    showSummary();
}

void CollectionWindow::exportReport() {
    const QString csv = QStringLiteral("CSV, for spreadsheets (*.csv)");
    const QString json = QStringLiteral("JSON (*.json)");
    QString filter = csv;
    const QFileInfo checked(txtDirectory->text());
    const QString start = (checked.isDir() ? checked.absoluteFilePath() : checked.absolutePath()) +
                          QStringLiteral("/collection-report.csv");
    QString chosen = QFileDialog::getSaveFileName(this, QStringLiteral("Export Report"), start,
                                                  csv + QStringLiteral(";;") + json, &filter);
    if (chosen.isEmpty())
        return;
    // The format follows the name's ending; a name without one takes the
    // chosen filter's (CSV unless JSON was picked).
    const QString ending = QFileInfo(chosen).suffix().toLower();
    if (ending != QStringLiteral("csv") && ending != QStringLiteral("json"))
        chosen += filter == json ? QStringLiteral(".json") : QStringLiteral(".csv");
    kelvo::exportReport(QFile::encodeName(chosen).toStdString(), model_->rows());
}

} // namespace kelvo
