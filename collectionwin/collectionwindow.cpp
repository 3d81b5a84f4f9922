#include "collectionwin/collectionwindow.h"

#include "checksumwin/loadedlists.h"
#include "collectionwin/checktablemodel.h"
#include "windowkit/failure.h"
#include "windowkit/windowkit.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
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

constexpr int kProgressIntervalMs = 250;

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
