#include "windowkit/directorylist.h"

#include "romheader/dirlist.h"
#include "romheader/romheader.h"
#include "windowkit/browsing.h"
#include "windowkit/directorywatch.h"
#include "windowkit/listdelegate.h"
#include "windowkit/windowkit.h"

#include <QAbstractListModel>
#include <QKeyEvent>
#include <QResizeEvent>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace kelvo {

namespace {

constexpr int kDepthRole = Qt::UserRole + 1;

// QListView has no indentation of its own: shift each entry right by its depth.
class IndentDelegate : public ListItemDelegate {
public:
    IndentDelegate(int indent, QObject* parent) : ListItemDelegate(parent), indent_(indent) {}

    // No row is wider than the list, room kept for its scroll bar, so a
    // longer name is elided. The rows are of one size, which QListView takes
    // from the last: a long name last (an open directory with none below
    // it) had made the list scroll sideways, while the same name higher up
    // was elided.
    [[nodiscard]] QSize sizeHint(const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const override {
        QSize size = ListItemDelegate::sizeHint(option, index);
        if (const auto* list = qobject_cast<const QAbstractScrollArea*>(option.widget)) {
            const int room =
                list->maximumViewportSize().width() - list->verticalScrollBar()->sizeHint().width();
            size.setWidth(std::max(1, std::min(size.width(), room)));
        }
        return size;
    }

private:
    [[nodiscard]] int indent(const QModelIndex& index) const override {
        return indent_ * index.data(kDepthRole).toInt();
    }

    int indent_;
};

} // namespace

// The ancestors of the current directory, root first, then its subdirectories.
class DirectoryModel : public QAbstractListModel {
public:
    DirectoryModel(QIcon openIcon, QIcon closedIcon, QObject* parent)
        : QAbstractListModel(parent), openIcon_(std::move(openIcon)),
          closedIcon_(std::move(closedIcon)) {}

    void reset(const std::string& path, std::vector<std::string> subdirectories) {
        beginResetModel();
        path_ = path;
        ancestors_ = ancestorsOf(path);
        subdirectories_ = std::move(subdirectories);
        endResetModel();
    }

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : int(ancestors_.size() + subdirectories_.size());
    }

    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override {
        if (!checkIndex(index, CheckIndexOption::IndexIsValid))
            return {};
        const auto row = std::size_t(index.row());
        const bool ancestor = row < ancestors_.size();
        switch (role) {
        case Qt::DisplayRole:
            return ancestor ? displayText(baseName(ancestors_[row]))
                            : displayText(subdirectories_[row - ancestors_.size()]);
        case Qt::ToolTipRole:
            return displayText(entryPath(index.row()));
        case Qt::DecorationRole:
            return ancestor ? openIcon_ : closedIcon_;
        case kDepthRole:
            return int(ancestor ? row : ancestors_.size());
        default:
            return {};
        }
    }

    [[nodiscard]] std::string entryPath(int row) const {
        if (row < 0 || row >= rowCount())
            return {};
        const auto entry = std::size_t(row);
        if (entry < ancestors_.size())
            return ancestors_[entry];
        return joinPath(path_, subdirectories_[entry - ancestors_.size()]);
    }

    [[nodiscard]] int rowOf(const std::string& path) const {
        for (int row = 0; row < rowCount(); ++row) {
            if (entryPath(row) == path)
                return row;
        }
        return -1;
    }

    [[nodiscard]] int currentDirectoryRow() const { return int(ancestors_.size()) - 1; }

private:
    QIcon openIcon_;
    QIcon closedIcon_;
    std::string path_;
    std::vector<std::string> ancestors_;
    std::vector<std::string> subdirectories_;
};

namespace {

[[nodiscard]] QIcon closedFolderIcon(const QStyle* style) {
    QIcon icon = style->standardIcon(QStyle::SP_DirClosedIcon);
    return icon.isNull() ? style->standardIcon(QStyle::SP_DirIcon) : icon;
}

} // namespace

DirectoryList::DirectoryList(QWidget* parent)
    : WholeFrameListView(parent),
      model_(new DirectoryModel(style()->standardIcon(QStyle::SP_DirOpenIcon),
                                closedFolderIcon(style()), this)),
      watch_(new DirectoryWatch(this)) {
    setModel(model_);
    setAccessibleName(QStringLiteral("Directories"));
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setItemDelegate(new IndentDelegate(style()->pixelMetric(QStyle::PM_SmallIconSize) / 2, this));
    connect(this, &QAbstractItemView::doubleClicked, this, &DirectoryList::openEntry);
    connect(watch_, &DirectoryWatch::changed, this, &DirectoryList::followDisk);
    connect(watch_, &DirectoryWatch::notFollowed, this, &DirectoryList::notFollowed);

    // A working directory that is gone or unreadable still shows where it was.
    const std::string start = workingDirectory();
    path_ = normalisedPath(start.empty() ? std::string("/") : start);
    watch_->watch(path_);
    std::vector<std::string> subdirectories;
    try {
        subdirectories = listSubdirectories(path_);
    } catch (const FileError&) {
    }
    showListing(std::move(subdirectories), path_);
}

void DirectoryList::setPath(const std::string& path) {
    std::string target = normalisedPath(path);
    if (target == path_)
        return;
    // A directory on a mount whose server does not answer waits here, and
    // only here: the user chose it.
    const BusyCursor busy;
    // Watched before it is read, so that a change made meanwhile is not missed.
    watch_->watch(target);
    std::vector<std::string> subdirectories;
    try {
        subdirectories = listSubdirectories(target);
    } catch (const FileError&) {
        watch_->watch(path_);
        throw;
    }
    path_ = std::move(target);
    showListing(std::move(subdirectories), path_);
    emit Change();
}

void DirectoryList::Refresh() {
    std::vector<std::string> subdirectories = listSubdirectories(path_);
    const QModelIndex highlighted = currentIndex();
    // A re-read leaves the view where the user scrolled it.
    const int scrolled = verticalScrollBar()->value();
    showListing(std::move(subdirectories),
                highlighted.isValid() ? model_->entryPath(highlighted.row()) : path_);
    executeDelayedItemsLayout();
    verticalScrollBar()->setValue(scrolled);
}

void DirectoryList::followDisk() {
    QString reason;
    try {
        Refresh();
        return;
    } catch (const FileError& error) {
        reason = QString::fromUtf8(error.reason().c_str());
    }
    const std::string gone = path_;
    std::vector<std::string> ancestors = ancestorsOf(gone);
    ancestors.pop_back();
    while (!ancestors.empty()) {
        try {
            setPath(ancestors.back());
            emit Left(QStringLiteral("\"%1\" can no longer be read (%2); showing %3.")
                          .arg(displayText(baseName(gone)), reason, displayText(path_)));
            return;
        } catch (const FileError&) {
            ancestors.pop_back();
        }
    }
}

int DirectoryList::ListCount() const {
    return model_->rowCount();
}

std::string DirectoryList::entryPath(int index) const {
    return model_->entryPath(index);
}

void DirectoryList::resizeEvent(QResizeEvent* event) {
    WholeFrameListView::resizeEvent(event);
    if (event->size().width() != event->oldSize().width())
        scheduleDelayedItemsLayout();
}

void DirectoryList::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        state() != QAbstractItemView::EditingState) {
        event->accept();
        openEntry(currentIndex());
        return;
    }
    QListView::keyPressEvent(event);
}

void DirectoryList::openEntry(const QModelIndex& index) {
    if (!index.isValid())
        return;
    // Runs inside Qt's event dispatch: report failures, never throw through it.
    try {
        setPath(model_->entryPath(index.row()));
    } catch (const std::exception& e) {
        emit failed(QString::fromUtf8(e.what()));
    }
}

void DirectoryList::showListing(std::vector<std::string> subdirectories,
                                const std::string& highlight) {
    model_->reset(path_, std::move(subdirectories));
    int row = model_->rowOf(highlight);
    if (row < 0)
        row = model_->currentDirectoryRow();
    const QModelIndex index = model_->index(row);
    setCurrentIndex(index);
    revealHighlight();
}

void DirectoryList::revealHighlight() {
    // Show as many ancestors above the highlight as fit, as a tree would.
    scrollToTop();
    scrollTo(currentIndex(), EnsureVisible);
}

void DirectoryList::showEvent(QShowEvent* event) {
    QListView::showEvent(event);
    // Scrolling before the first layout has no effect; repeat it once laid out.
    QTimer::singleShot(0, this, &DirectoryList::revealHighlight);
}

void DirectoryList::paintEvent(QPaintEvent* event) {
    WholeFrameListView::paintEvent(event);
    // The rows are on screen; the rest of the watch can be added now.
    watch_->followAttributesSoon();
}

} // namespace kelvo
