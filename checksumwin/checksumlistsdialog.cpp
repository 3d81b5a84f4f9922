#include "checksumwin/checksumlistsdialog.h"

#include "checksumwin/loadedlists.h"
#include "windowkit/browsing.h"
#include "windowkit/failure.h"
#include "windowkit/opening.h"
#include "windowkit/windowkit.h"

#include <QDialogButtonBox>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QLocale>
#include <QMimeData>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace kelvo {

namespace {

enum ColumnIndex { NameColumn, VersionColumn, EntriesColumn, FileColumn, ProblemColumn };

QTableWidgetItem* cell(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    if (!text.isEmpty())
        item->setToolTip(text); // a long path or reason shows whole
    return item;
}

QStringList chooseListFiles(QWidget* parent) {
    return QFileDialog::getOpenFileNames(
        parent, QStringLiteral("Add Checksum Lists"), QString(),
        QStringLiteral("Checksum lists (*.dat *.xml *.zip);;All files (*)"));
}

} // namespace

ChecksumListsDialog::ChecksumListsDialog(LoadedLists* lists, QWidget* parent)
    : QDialog(parent), lists_(lists), chooser_(chooseListFiles) {
    setObjectName(QStringLiteral("checksumLists"));
    setWindowTitle(QStringLiteral("Checksum Lists"));
    setAcceptDrops(true);

    table_ = makeNamed<QTableWidget>("lists", this, 0, 5);
    table_->setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("Version"),
                                       QStringLiteral("Entries"), QStringLiteral("File"),
                                       QStringLiteral("Problem")});
    table_->setAccessibleName(QStringLiteral("Checksum lists"));
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table_->horizontalHeader()->setStretchLastSection(true);
    // A long reason wraps in its Problem cell; a deep path keeps both ends.
    table_->setWordWrap(true);
    table_->setTextElideMode(Qt::ElideMiddle);
    table_->setMinimumWidth(fontMetrics().averageCharWidth() * 140);

    auto* buttons = makeNamed<QDialogButtonBox>("buttons", this, QDialogButtonBox::Close);
    buttons->button(QDialogButtonBox::Close)->setObjectName(QStringLiteral("close"));
    add_ = buttons->addButton(QStringLiteral("Add..."), QDialogButtonBox::ActionRole);
    add_->setObjectName(QStringLiteral("add"));
    remove_ = buttons->addButton(QStringLiteral("Remove"), QDialogButtonBox::ActionRole);
    remove_->setObjectName(QStringLiteral("remove"));
    remove_->setEnabled(false);
    connect(buttons, &QDialogButtonBox::rejected, this, &ChecksumListsDialog::reject);
    connect(add_, &QPushButton::clicked, this, &ChecksumListsDialog::addClicked);
    connect(remove_, &QPushButton::clicked, this, &ChecksumListsDialog::removeClicked);
    connect(table_, &QTableWidget::itemSelectionChanged, this,
            [this] { remove_->setEnabled(!table_->selectedItems().isEmpty()); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(table_);
    layout->addWidget(buttons);

    if (lists_) {
        connect(lists_, &LoadedLists::changed, this, &ChecksumListsDialog::showLists);
        connect(lists_, &LoadedLists::listLoaded, this, &ChecksumListsDialog::listLoaded);
    }
    showLists();
    resize(sizeHint().width(), fontMetrics().lineSpacing() * 20);
}

void ChecksumListsDialog::showLists() {
    if (!lists_)
        return;
    QSet<QString> selected;
    for (const QModelIndex& index : table_->selectionModel()->selectedRows(FileColumn))
        selected.insert(index.data(Qt::UserRole).toString());

    const std::vector<LoadedLists::Entry> entries = lists_->entries();
    table_->clearSelection();
    table_->setRowCount(int(entries.size()));
    const QLocale locale;
    for (int row = 0; row < int(entries.size()); ++row) {
        const LoadedLists::Entry& entry = entries[std::size_t(row)];
        QString name, version, count;
        if (entry.loading)
            name = QStringLiteral("Loading...");
        if (entry.list) {
            name = fromUtf8(entry.list->name);
            version = fromUtf8(entry.list->version);
            count = locale.toString(qulonglong(entry.list->entryCount()));
        }
        QString file = displayText(entry.path);
        if (entry.thisRunOnly)
            file += QStringLiteral(" (this run only)");
        table_->setItem(row, NameColumn, cell(name));
        table_->setItem(row, VersionColumn, cell(version));
        QTableWidgetItem* entriesCell = cell(count);
        entriesCell->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        table_->setItem(row, EntriesColumn, entriesCell);
        QTableWidgetItem* fileCell = cell(file);
        // The path's own bytes, for Remove: a name need not be UTF-8.
        fileCell->setData(Qt::UserRole, QString::fromLatin1(QByteArray::fromStdString(entry.path)));
        table_->setItem(row, FileColumn, fileCell);
        QTableWidgetItem* problemCell = cell(entry.reason);
        problemCell->setToolTip(entry.problem);
        table_->setItem(row, ProblemColumn, problemCell);
        if (selected.contains(fileCell->data(Qt::UserRole).toString()))
            table_->selectRow(row);
    }
    for (int column = NameColumn; column < ProblemColumn; ++column)
        table_->resizeColumnToContents(column);
    // A deep path leaves room for the Problem column; its tooltip shows it whole.
    const int widestFile = fontMetrics().averageCharWidth() * 40;
    if (table_->columnWidth(FileColumn) > widestFile)
        table_->setColumnWidth(FileColumn, widestFile);
    remove_->setEnabled(!table_->selectedItems().isEmpty());
}

void ChecksumListsDialog::addLists(const std::vector<std::string>& paths) {
    if (!lists_)
        return;
    for (const std::string& path : paths) {
        const auto failure = attempt([&] {
            const std::string absolute = normalisedPath(path);
            awaited_.insert(displayText(absolute));
            if (!lists_->add(absolute)) {
                awaited_.remove(displayText(absolute));
                showInformation(this, QStringLiteral("%1 is in the checksum lists already.")
                                          .arg(displayText(absolute)));
            }
        });
        if (failure) {
            awaited_.remove(displayText(normalisedPath(path)));
            reportFailure(*failure);
        }
    }
}

void ChecksumListsDialog::addClicked() {
    std::vector<std::string> paths;
    for (const QString& chosen : chooser_(this))
        paths.push_back(QFile::encodeName(chosen).toStdString());
    addLists(paths);
}

void ChecksumListsDialog::removeClicked() {
    if (!lists_)
        return;
    std::vector<std::string> paths;
    for (const QModelIndex& index : table_->selectionModel()->selectedRows(FileColumn))
        paths.push_back(index.data(Qt::UserRole).toString().toLatin1().toStdString());
    for (const std::string& path : paths) {
        if (const auto failure = attempt([&] { lists_->remove(path); }))
            reportFailure(*failure);
    }
}

void ChecksumListsDialog::listLoaded(const QString& path, const QString& problem) {
    if (!awaited_.remove(path) || problem.isEmpty())
        return;
    reportFailure(problem);
}

void ChecksumListsDialog::reportFailure(const QString& message) {
    emit failureReported(message);
    showFailure(this, message);
}

void ChecksumListsDialog::dragEnterEvent(QDragEnterEvent* event) {
    const auto dropped = droppedPath(event->mimeData());
    if (dropped && dropped->kind == PathKind::File)
        event->acceptProposedAction();
}

void ChecksumListsDialog::dropEvent(QDropEvent* event) {
    const auto dropped = droppedPath(event->mimeData());
    if (!dropped || dropped->kind != PathKind::File)
        return;
    event->acceptProposedAction();
    // After the drop has ended: adding may raise a message box.
    QMetaObject::invokeMethod(
        this, [this, path = dropped->path] { addLists({path}); }, Qt::QueuedConnection);
}

} // namespace kelvo
