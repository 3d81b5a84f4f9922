// The program's main window: browse to an image, show its cartridge header,
// write a new title into it and copy it to a file named after its title.
#pragma once

#include "checksumwin/verification.h"
#include "romheader/romheader.h"
#include "windowkit/failure.h"
#include "windowkit/progress.h"

#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMimeData;
class QPushButton;

namespace kelvo {

class ChecksumListsDialog;
class DirectoryList;
class DirectoryWatch;
class DriveList;
class FileList;
class ImageCheck;
class LoadedLists;
class WrappingButton;
struct DroppedPath;

class HeaderWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit HeaderWindow(QWidget* parent = nullptr);

    // The picture shown in the banner control, stretched to fill it.
    void setBanner(const QPixmap& banner);

    // Makes the ROM list window, owned by the window passed in. The program
    // wires it up, so this window needs no knowledge of the list window.
    using ListWindowFactory = std::function<QWidget*(QWidget* owner)>;
    void setListWindowFactory(ListWindowFactory factory);
    // Shows the ROM list window, creating it on first use or after it was closed.
    void showListWindow();
    // The ROM list window while it exists (shown or hidden), else nullptr.
    [[nodiscard]] QWidget* listWindow() const { return listWindow_; }

    // Makes the Check Collection window, owned by the window passed in; the
    // program wires it up as it does the ROM list window. With it, File >
    // Check Collection... opens it, and a .zip archive opened or dropped is
    // checked there.
    void setCollectionWindowFactory(ListWindowFactory factory);
    // Shows the Check Collection window, creating it on first use or after it was closed.
    void showCollectionWindow();
    // The Check Collection window while it exists, else nullptr.
    [[nodiscard]] QWidget* collectionWindow() const { return collectionWindow_; }
    // The directory the lists show.
    [[nodiscard]] std::string currentDirectory() const;

    // The checksum lists the program holds images against, which outlive
    // the window. While any is configured the window shows a List row
    // below the IMAGE INFO group with the shown image's standing in them;
    // without them (or any list) the window is as it always was.
    void setLoadedLists(LoadedLists* lists);
    // File > Checksum Lists...: the dialog, made on first use.
    void showChecksumLists();

    // The status line under the window: what the last action did, in one
    // sentence naming its file. Failures still go to message boxes.
    void showStatus(const QString& text);
    [[nodiscard]] QString statusText() const;

    // Opens what the program was started with or what was dropped on it: an
    // image as if the user had clicked it in the file list (the lists go to
    // its directory first), a directory as if the user had browsed there,
    // a .zip archive in the Check Collection window (when there is one).
    // A failure is reported with the path and the reason.
    void openPath(const std::string& path);
    // Opens the first of `paths` and names the others in one message.
    void openPaths(const std::vector<std::string>& paths);

    // A copy or Image Details' reading that lasts this long shows its
    // progress and can be cancelled; 500 ms unless set.
    void setProgressDelay(int milliseconds) { progressDelayMs_ = milliseconds; }

    // State of the image last clicked.
    [[nodiscard]] const std::string& currentRomPath() const { return romPath; }
    [[nodiscard]] const RomHeader& currentHeader() const { return header; }

signals:
    // A failure was shown to the user; carries the message text.
    void failureReported(const QString& message);
    // A .zip archive was opened or dropped: the Check Collection window,
    // shown by now, is to check `path` (absolute) alone.
    void collectionCheckAsked(const std::string& path);

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // One image file, archive or directory is taken, as openPath takes it.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void createControls();
    void layOutControls();
    void connectHandlers();
    void createMenus();
    void showAbout();

    void Form_Load();
    void Drive1_Change();
    void Dir1_Change();
    void File1_Click();
    void cmdEdit_Click();
    void cmdRen_Click();
    void cmdExit_Click();

    [[nodiscard]] std::optional<DroppedPath> acceptedDrop(const QMimeData* data) const;
    void driveRemoved(const std::string& root);
    // Copies the image to its title's name, with progress when it takes a
    // while; returns the copy's path, or nothing when the user cancelled it.
    // A termination signal during the copy ends the program once the copy is undone.
    std::optional<std::string> copyImage(const std::string& title, Overwrite overwrite);

    // The List row (headerlists.cpp).
    void showListRow(bool shown);
    // Holds the image shown against the lists, off the window's thread.
    void startListCheck();
    void showVerdict(const ImageVerdict& verdict);
    void showCheckFailed(const QString& message);
    void listsChanged();
    // Enables what works on the shown image's match.
    void updateListActions();
    void renameToListName();
    void restorePadding();
    // Shows the header of romPath as one of the program's own writes left
    // it, a title typed and not yet written kept in its box.
    void showRewrittenImage();

    void clearImageInfo();
    // The identity of the file whose header is shown, for the operations to
    // check that the path still names it. Every write asks for it, so none
    // happens while no header is shown: that is refused as `operation`.
    [[nodiscard]] FileIdentity shownIdentity(const char* operation) const;
    // Shows `header`, read from romPath, and enables what works on it.
    void showHeader();
    // The state after a directory change: no header shown, the file buttons off.
    void forgetShownImage();
    void showCheck(const RomHeader& shown);

    // The Image menu (imagemenu.cpp).
    void createImageMenu();
    // What the menu adds to a shown header: its actions and the company's
    // name on the Manufacturer label; nullptr takes both away.
    void showImageExtras(const RomHeader* shown);
    void showImageDetails();
    void repairShownHeader();
    void trimShownImage();
    void padShownImage();
    void refreshLists();
    void followShownFile();
    // Reads the shown file's header again and shows it when another program
    // changed it; a title typed and not yet written stays in its box.
    void rereadShownHeader();
    // What the status line says after an action, naming its file.
    void tellTitleRefused(const QString& unstorable, const QString& pastLimit);
    void tellNotFollowed(const QString& message);
    [[nodiscard]] QString writtenStatus(const TitleWritten& written) const;
    [[nodiscard]] QString copiedStatus(const std::string& target) const;

    // Runs one handler; a failure becomes a message box and the window carries on.
    template <typename Handler> void guarded(Handler&& handler) {
        if (const auto failure = attempt(std::forward<Handler>(handler)))
            reportFailure(*failure);
    }
    void reportFailure(const QString& message);

    // Controls, named as the window's layout names them.
    DriveList* Drive1;
    DirectoryList* Dir1;
    FileList* File1;
    QPushButton* cmdEdit;
    WrappingButton* cmdRen;
    QLabel* Image1;
    QPushButton* cmdExit;
    QGroupBox* Frame1;
    QLabel* Label1;
    QLineEdit* txtheader;
    QLabel* lblcheck;
    QLabel* Label2;
    QLabel* lblsizembit;
    QLabel* Label3;
    QLabel* lblsizemb;
    QLabel* Label8;
    QLabel* lbladv;
    QLabel* Label4;
    QLabel* lblterritory;
    QLabel* Label5;
    QLabel* lblid;
    QLabel* Label9;
    QLabel* lblman;
    // The List row, made when the first list is configured.
    QLabel* Label10 = nullptr;
    QLabel* lbllist = nullptr;
    bool listRowShown_ = false;
    double layoutScale_ = 1.0;

    // Current-image state.
    std::string romPath;
    RomHeader header;
    TitleBytes editTitle{};
    bool headerShown_ = false;       // the labels show `header`, read from romPath
    DirectoryWatch* shownFileWatch_; // the contents of romPath while its header is shown
    QString statusText_;
    // What the status line says about the image shown (not a GBA image):
    // it goes with the image.
    QString imageNote_;
    // The title box's refusals since the status line began telling them.
    QString refusalStatus_;
    QString refusedUnstorable_;
    QString refusedPastLimit_;

    ListWindowFactory listWindowFactory_;
    QPointer<QWidget> listWindow_;
    QAction* listWindowAction_ = nullptr;
    ListWindowFactory collectionWindowFactory_;
    QPointer<QWidget> collectionWindow_;
    QAction* collectionWindowAction_ = nullptr;
    QAction* imageDetailsAction_ = nullptr;
    QAction* repairAction_ = nullptr;
    QAction* trimAction_ = nullptr;
    QAction* padAction_ = nullptr;
    QAction* renameToListAction_ = nullptr;
    QAction* restorePaddingAction_ = nullptr;
    QAction* checksumListsAction_ = nullptr;
    int progressDelayMs_ = kProgressAfterMs;

    QPointer<LoadedLists> lists_;
    ImageCheck* listCheck_ = nullptr;
    // The shown image's standing in the lists, once its check has ended.
    std::optional<ImageVerdict> verdict_;
    QPointer<ChecksumListsDialog> listsDialog_;
    bool followingRename_ = false; // the lists are re-read under the image's new name
};

} // namespace kelvo
