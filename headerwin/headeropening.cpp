// The header window's ways in from outside: a path the program is started
// with, a file or directory dropped on the window, and a drive that goes away.
#include "headerwin/headerwindow.h"
#include "windowkit/browsing.h"
#include "windowkit/directorylist.h"
#include "windowkit/drivelist.h"
#include "windowkit/failure.h"
#include "windowkit/filelist.h"
#include "windowkit/opening.h"
#include "windowkit/windowkit.h"

#include <QDropEvent>
#include <QStringList>

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace kelvo {

namespace {

// A .zip archive (any case) the Check Collection window would check; a
// hidden one is left alone as hidden images are.
bool isArchiveName(const std::string& name) {
    if (name.size() <= 4 || name.starts_with('.'))
        return false;
    std::string ending = name.substr(name.size() - 4);
    for (char& c : ending)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return ending == ".zip";
}

} // namespace

void HeaderWindow::openPath(const std::string& path) {
    bool selected = false;
    const auto failure = attempt([this, &path, &selected] {
        const std::string target = normalisedPath(path);
        if (openableKind(target) == PathKind::Directory) {
            browseTo(*Drive1, *Dir1, target);
            return;
        }
        const std::string name = baseName(target);
        if (collectionWindowFactory_ && isArchiveName(name)) {
            showCollectionWindow();
            emit collectionCheckAsked(target);
            return;
        }
        browseTo(*Drive1, *Dir1, std::filesystem::path(target).parent_path().native());
        if (!File1->wouldList(name)) {
            throw FileError(FileError::Kind::InvalidName, "open", target,
                            name.starts_with('.')
                                ? "A hidden file, which the file list does not show"
                                : "Not a ROM image name (.gba, .agb, .bin)");
        }
        int row = File1->rowOf(name);
        if (row < 0) {
            // Its directory was shown already, so the lists did not read it again.
            File1->Refresh();
            row = File1->rowOf(name);
        }
        if (row < 0)
            throw FileError(FileError::Kind::System, "open", target, "It is no longer there");
        File1->setListIndex(row);
        File1->setFocus();
        selected = true;
    });
    if (failure)
        reportFailure(*failure);
    else if (selected)
        File1_Click(); // reports its own failures
}

void HeaderWindow::openPaths(const std::vector<std::string>& paths) {
    if (paths.empty())
        return;
    openPath(paths.front());
    if (paths.size() > 1) {
        QStringList others;
        for (auto it = paths.begin() + 1; it != paths.end(); ++it)
            others << QStringLiteral("\"%1\"").arg(displayText(*it));
        reportFailure(QStringLiteral("Only one image or directory opens at a time. Not opened: %1")
                          .arg(others.join(QStringLiteral(", "))));
    }
}

std::optional<DroppedPath> HeaderWindow::acceptedDrop(const QMimeData* data) const {
    auto dropped = droppedPath(data);
    if (dropped && dropped->kind == PathKind::File && !File1->wouldList(baseName(dropped->path)) &&
        !(collectionWindowFactory_ && isArchiveName(baseName(dropped->path))))
        return std::nullopt;
    return dropped;
}

void HeaderWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (acceptedDrop(event->mimeData()))
        event->acceptProposedAction();
}

void HeaderWindow::dropEvent(QDropEvent* event) {
    const auto dropped = acceptedDrop(event->mimeData());
    if (!dropped)
        return;
    event->acceptProposedAction();
    // After the drop has ended: the file manager waits for its answer, and
    // opening may raise a message box.
    QMetaObject::invokeMethod(
        this, [this, path = dropped->path] { openPath(path); }, Qt::QueuedConnection);
}

void HeaderWindow::driveRemoved(const std::string& root) {
    // Lists that show a directory of another drive stay where they are.
    if (!holdsPath(root, Dir1->Path())) {
        showStatus(QStringLiteral("%1 was removed.").arg(displayText(root)));
        return;
    }
    showStatus(QStringLiteral("%1 was removed; the lists show / now.").arg(displayText(root)));
    if (const auto failure = attempt([this] { Dir1->setPath("/"); }))
        reportFailure(*failure);
}

} // namespace kelvo
