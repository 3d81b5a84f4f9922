// The file list: the files of one directory that match a pattern list such
// as "*.bin ;*.gba ;*.agb", in name order, hidden files left out. Backed by a
// flat model of names, so it holds a hundred thousand entries lightly.
#pragma once

#include "windowkit/wholeframe.h"

#include <string>
#include <vector>

namespace kelvo {

class DirectoryWatch;
class FileNameModel;

class FileList : public WholeFrameListView {
    Q_OBJECT
public:
    // Starts on the process's working directory with the pattern "*.*",
    // empty: the directory is read when the window sets the pattern it
    // wants (or on Refresh), so starting up reads it once, not twice.
    explicit FileList(QWidget* parent = nullptr);

    [[nodiscard]] const std::string& Pattern() const { return pattern_; }
    // Sets the pattern list and re-reads the directory. When the directory
    // cannot be read the new pattern still holds, the list is emptied and
    // FileError is thrown.
    void setPattern(const std::string& patternList);

    [[nodiscard]] const std::string& Path() const { return path_; }
    // Points the list at a directory and reads it; the selection is cleared.
    // Throws FileError, changing nothing, when the directory cannot be read.
    void setPath(const std::string& directory);

    // Re-reads the directory; keeps the selected name when it is still listed.
    // Raises no Click, then Refreshed. Throws FileError, changing nothing,
    // when the directory cannot be read. The list also re-reads by itself
    // when its directory changes on disk.
    void Refresh();

    // The selected file's name without its directory; empty when none is selected.
    [[nodiscard]] std::string FileName() const;
    [[nodiscard]] int ListCount() const;
    [[nodiscard]] int ListIndex() const; // the selected row; -1 when nothing is selected
    void setListIndex(int index);        // selects by code; raises no Click
    [[nodiscard]] const std::vector<std::string>& names() const;
    // The row of `name`; -1 when it is not listed.
    [[nodiscard]] int rowOf(const std::string& name) const;
    // Whether a regular file called `name` would be listed: not hidden, and
    // matching the pattern.
    [[nodiscard]] bool wouldList(const std::string& name) const;

signals:
    // The user selected a name, however: mouse, keys, the view's keyboard
    // search, an input method's commit, a screen reader's action. Pressing
    // the selected name again raises it too. Changes made by code never do.
    void Click();
    // The directory was re-read (Refresh, or a change on disk).
    void Refreshed();
    // Changes on disk are not followed in the directory shown (the system
    // ran out of watches); the message says so and that F5 re-reads.
    void notFollowed(const QString& message);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    // A file list keeps one name selected once the user picked one: Ctrl+click
    // and Ctrl+Space select instead of deselecting, a press below the names
    // changes nothing.
    [[nodiscard]] QItemSelectionModel::SelectionFlags
    selectionCommand(const QModelIndex& index, const QEvent* event = nullptr) const override;

private:
    // Replaces the names and selects `keep` when it is among them.
    void showNames(std::vector<std::string> names, const std::string& keep);
    void selectionMoved(const QItemSelection& selected);
    void followDisk();

    FileNameModel* model_;
    DirectoryWatch* watch_;
    bool byProgram_ = false; // the selection is being changed by code, not by the user
    std::string path_;
    std::string pattern_;
    std::vector<std::string> patterns_; // pattern_ split by parsePatterns
};

} // namespace kelvo
