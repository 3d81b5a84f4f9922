#include "windowkit/opening.h"

#include "windowkit/browsing.h"
#include "windowkit/directorylist.h"
#include "windowkit/drivelist.h"
#include "windowkit/filelist.h"
#include "romheader/romheader.h"

#include <QMimeData>
#include <QSignalBlocker>
#include <QUrl>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace kelvo {

std::optional<DroppedPath> droppedPath(const QMimeData* data) {
    if (!data || !data->hasUrls() || data->urls().size() != 1)
        return std::nullopt;
    const QUrl url = data->urls().constFirst();
    if (!url.isLocalFile())
        return std::nullopt;
    // The bytes of the name as the file manager sent them: toLocalFile()
    // would turn a name that is not UTF-8 into another one.
    std::string path = normalisedPath(
        QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString());
    // Only looked at, never opened, while the drag passes over the window: an
    // open could wait on another program's lease. Opening the drop reports
    // what cannot be read.
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (std::filesystem::is_directory(status))
        return DroppedPath{std::move(path), PathKind::Directory};
    if (std::filesystem::is_regular_file(status))
        return DroppedPath{std::move(path), PathKind::File};
    return std::nullopt;
}

void browseTo(DriveList& drives, DirectoryList& directories, const std::string& directory) {
    directories.setPath(directory);
    // The drive's Change would take the lists to that drive's current directory.
    const QSignalBlocker quiet(drives);
    drives.setDrive(drives.driveOf(directories.Path()));
}

} // namespace kelvo
