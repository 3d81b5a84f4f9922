// File > Checksum Lists...: the lists the program holds images against, one
// row each (Name, Version, Entries, File, Problem), with "Add...", "Remove"
// and "Close". A list file dropped on the dialog is added too. A list that
// cannot be read stays with the reason in its Problem cell; one just added
// that cannot be read is also told in a message box.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QSet>
#include <QStringList>

#include <functional>
#include <string>
#include <vector>

class QPushButton;
class QTableWidget;

namespace kelvo {

class LoadedLists;

class ChecksumListsDialog : public QDialog {
    Q_OBJECT
public:
    explicit ChecksumListsDialog(LoadedLists* lists, QWidget* parent = nullptr);

    // Adds each list, as "Add..." and a drop do.
    void addLists(const std::vector<std::string>& paths);

    // How "Add..." asks for files: a file dialog unless set otherwise.
    using FileChooser = std::function<QStringList(QWidget* parent)>;
    void setFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }

signals:
    // A failure was shown in a message box; carries its text.
    void failureReported(const QString& message);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void showLists();
    void addClicked();
    void removeClicked();
    void listLoaded(const QString& path, const QString& problem);
    void reportFailure(const QString& message);

    QPointer<LoadedLists> lists_;
    QTableWidget* table_;
    QPushButton* add_;
    QPushButton* remove_;
    FileChooser chooser_;
    QSet<QString> awaited_; // added here and not read yet, as displayText gives them
};

} // namespace kelvo
