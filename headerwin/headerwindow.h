// The program's main window: browse to an image, show its cartridge header,
// write a new title into it and copy it to a file named after its title.
#pragma once

#include "romheader/romheader.h"

#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <string>

class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kelvo {

class DirectoryList;
class DriveList;
class FileList;
class WrappingButton;

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

    // The status line under the window: what the last action did, in one
    // sentence naming its file. Failures still go to message boxes.
    void showStatus(const QString& text);
    [[nodiscard]] QString statusText() const;

    // State of the image last clicked.
    [[nodiscard]] const std::string& currentRomPath() const { return romPath; }
    [[nodiscard]] const RomHeader& currentHeader() const { return header; }

signals:
    // A failure was shown to the user; carries the message text.
    void failureReported(const QString& message);

protected:
    void closeEvent(QCloseEvent* event) override;

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

    void clearImageInfo();
    void showCheck(const RomHeader& shown);
    void refreshLists();
    void followShownFile();
    // What the status line says after an action, naming its file.
    void tellTitleRefused(const QString& unstorable, const QString& pastLimit);
    [[nodiscard]] QString writtenStatus() const;
    [[nodiscard]] QString copiedStatus(const std::string& target) const;

    // Runs one handler; a failure becomes a message box and the window carries on.
    template <typename Handler> void guarded(Handler&& handler);
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

    // Current-image state.
    std::string romPath;
    RomHeader header;
    TitleBytes editTitle{};
    bool headerShown_ = false; // the labels show `header`, read from romPath
    QString statusText_;

    ListWindowFactory listWindowFactory_;
    QPointer<QWidget> listWindow_;
    QAction* listWindowAction_ = nullptr;
};

} // namespace kelvo
