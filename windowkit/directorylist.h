// The directory list: the root, each ancestor down to the current directory
// (open folders), then the current directory's subdirectories (closed
// folders), indented by depth. A double-click or Enter on an entry makes it
// the current directory; a single click only moves the highlight.
#pragma once

#include "windowkit/wholeframe.h"

#include <string>
#include <vector>

namespace kelvo {

class DirectoryModel;
class DirectoryWatch;

class DirectoryList : public WholeFrameListView {
    Q_OBJECT
public:
    // Starts at the process's working directory.
    explicit DirectoryList(QWidget* parent = nullptr);

    // The current directory: absolute, ending with a separator only at a root.
    [[nodiscard]] const std::string& Path() const { return path_; }
    // Shows `path` (made absolute and normalised). Raises Change when the
    // path differs from the current one; setting the same path does nothing.
    // Throws FileError, changing nothing, when the directory cannot be read.
    void setPath(const std::string& path);
    // Re-reads the subdirectories of the current path; raises no Change.
    // Throws FileError, changing nothing, when the directory cannot be read.
    void Refresh();
    // Refresh, or, when the directory can no longer be read (removed, say),
    // a move to its nearest ancestor that can: Change, then Left. The list
    // does this by itself when its directory changes on disk.
    void followDisk();

    [[nodiscard]] int ListCount() const;
    // The path of entry `index` (an ancestor or a subdirectory).
    [[nodiscard]] std::string entryPath(int index) const;

signals:
    void Change();
    // A user action (double-click, Enter) failed; the message names the path
    // and the system's reason. Errors never leave the widget as exceptions.
    void failed(const QString& message);
    // The list left its directory, which could no longer be read, for Path();
    // the message names both and the system's reason.
    void Left(const QString& message);
    // Changes on disk are not followed in the directory shown (the system
    // ran out of watches); the message says so and that F5 re-reads.
    void notFollowed(const QString& message);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    // A row is kept to the list's width: a new width lays them out again.
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void revealHighlight();
    void openEntry(const QModelIndex& index);
    // Rebuilds the entries for path_ and highlights the entry `highlight`
    // (the current directory when that entry is gone).
    void showListing(std::vector<std::string> subdirectories, const std::string& highlight);

    DirectoryModel* model_;
    DirectoryWatch* watch_;
    std::string path_;
};

} // namespace kelvo
