#include "windowkit/filelist.h"

#include "romheader/dirlist.h"
#include "romheader/romheader.h"
#include "windowkit/browsing.h"
#include "windowkit/directorywatch.h"
#include "windowkit/listdelegate.h"

#include <QAbstractListModel>
#include <QMouseEvent>
#include <QScopedValueRollback>
#include <QScrollBar>

#include <algorithm>
#include <utility>

namespace kelvo {

// The listed names as raw bytes; texts are made only for the rows on screen.
class FileNameModel : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    void reset(std::vector<std::string> names) {
        beginResetModel();
        names_ = std::move(names);
        endResetModel();
    }

    [[nodiscard]] const std::vector<std::string>& names() const { return names_; }

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : int(names_.size());
    }

    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !checkIndex(index, CheckIndexOption::IndexIsValid))
            return {};
        return displayText(names_[std::size_t(index.row())]);
    }

    // The names are sorted by nameLess, so a name is found by bisection.
    [[nodiscard]] int rowOf(const std::string& name) const {
        const auto it = std::lower_bound(
            names_.begin(), names_.end(), name,
            [](const std::string& a, const std::string& b) { return nameLess(a, b); });
        return it != names_.end() && *it == name ? int(it - names_.begin()) : -1;
    }

private:
    std::vector<std::string> names_;
};

FileList::FileList(QWidget* parent)
    : WholeFrameListView(parent), model_(new FileNameModel(this)), watch_(new DirectoryWatch(this)),
      pattern_("*.*"), patterns_(parsePatterns(pattern_)) {
    setModel(model_);
    setItemDelegate(new ListItemDelegate(this));
    setAccessibleName(QStringLiteral("Files"));
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Every way the user can move the selection ends here, so Click follows
    // the selection whatever the input path.
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &FileList::selectionMoved);
    connect(watch_, &DirectoryWatch::changed, this, &FileList::followDisk);
    connect(watch_, &DirectoryWatch::notFollowed, this, &FileList::notFollowed);

    // An unreadable working directory leaves the path empty until the list is pointed elsewhere.
    path_ = workingDirectory();
}

void FileList::setPattern(const std::string& patternList) {
    pattern_ = patternList;
    patterns_ = parsePatterns(patternList);
    if (path_.empty())
        return;
    watch_->watch(path_);
    try {
        showNames(listMatchingFiles(path_, patterns_), {});
    } catch (const FileError&) {
        showNames({}, {});
        throw;
    }
}

void FileList::setPath(const std::string& directory) {
    std::string target = normalisedPath(directory);
    // Watched before it is read, so that a change made meanwhile is not missed.
    watch_->watch(target);
    std::vector<std::string> names;
    try {
        names = listMatchingFiles(target, patterns_);
    } catch (const FileError&) {
        watch_->watch(path_);
        throw;
    }
    path_ = std::move(target);
    showNames(std::move(names), {});
}

void FileList::Refresh() {
    if (path_.empty())
        return;
    const std::string selected = FileName();
    std::vector<std::string> names = listMatchingFiles(path_, patterns_);
    // A re-read leaves the view where the user scrolled it.
    const int scrolled = verticalScrollBar()->value();
    showNames(std::move(names), selected);
    executeDelayedItemsLayout();
    verticalScrollBar()->setValue(scrolled);
    if (ListIndex() >= 0)
        scrollTo(currentIndex());
    emit Refreshed();
}

void FileList::followDisk() {
    try {
        Refresh();
    } catch (const FileError&) {
        // The directory went away: the list keeps what it shows until it is
        // pointed elsewhere (the directory list moves both).
    }
}

std::string FileList::FileName() const {
    const int row = ListIndex();
    return row < 0 ? std::string() : model_->names()[std::size_t(row)];
}

int FileList::ListCount() const {
    return model_->rowCount();
}

int FileList::ListIndex() const {
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    return selected.isEmpty() ? -1 : selected.first().row();
}

void FileList::setListIndex(int index) {
    const QScopedValueRollback byProgram(byProgram_, true);
    if (index < 0 || index >= ListCount()) {
        selectionModel()->clear();
        return;
    }
    const QModelIndex modelIndex = model_->index(index);
    selectionModel()->setCurrentIndex(modelIndex, QItemSelectionModel::ClearAndSelect);
    scrollTo(modelIndex);
}

const std::vector<std::string>& FileList::names() const {
    return model_->names();
}

int FileList::rowOf(const std::string& name) const {
    return model_->rowOf(name);
}

bool FileList::wouldList(const std::string& name) const {
    return !name.starts_with('.') &&
           std::any_of(patterns_.begin(), patterns_.end(), [&name](const std::string& pattern) {
               return matchesPattern(name, pattern);
           });
}

void FileList::selectionMoved(const QItemSelection& selected) {
    if (byProgram_ || selected.isEmpty())
        return;
    // A screen reader selects a cell without moving the current index; the
    // keyboard goes on from the selected name.
    const QModelIndex index = selected.indexes().first();
    if (currentIndex() != index) {
        const QScopedValueRollback byProgram(byProgram_, true);
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    }
    emit Click();
}

void FileList::mousePressEvent(QMouseEvent* event) {
    const int before = ListIndex();
    QListView::mousePressEvent(event);
    // Pressing the selected name again is a click too: the window re-reads that file.
    const QModelIndex pressed = indexAt(event->position().toPoint());
    if (pressed.isValid() && pressed.row() == before && ListIndex() == before)
        emit Click();
}

QItemSelectionModel::SelectionFlags FileList::selectionCommand(const QModelIndex& index,
                                                               const QEvent* event) const {
    if (!index.isValid()) // a press below the last name keeps the selection
        return QItemSelectionModel::NoUpdate;
    QItemSelectionModel::SelectionFlags command = QListView::selectionCommand(index, event);
    if (command.testFlag(QItemSelectionModel::Deselect))
        command = QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows;
    return command;
}

void FileList::showNames(std::vector<std::string> names, const std::string& keep) {
    const QScopedValueRollback byProgram(byProgram_, true);
    model_->reset(std::move(names));
    const int row = keep.empty() ? -1 : model_->rowOf(keep);
    if (row >= 0)
        setListIndex(row);
}

void FileList::paintEvent(QPaintEvent* event) {
    WholeFrameListView::paintEvent(event);
    // The rows are on screen; the rest of the watch can be added now.
    watch_->followAttributesSoon();
}

} // namespace kelvo
