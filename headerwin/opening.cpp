#include "headerwin/opening.h"

#include "headerwin/browsing.h"
#include "headerwin/directorylist.h"
#include "headerwin/drivelist.h"
#include "headerwin/filelist.h"
#include "romheader/romheader.h"

#include <QMimeData>
#include <QSignalBlocker>
#include <QUrl>

#include <algorithm>

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
    try {
        const PathKind kind = openableKind(path);
        return DroppedPath{std::move(path), kind};
    } catch (const FileError&) {
        return std::nullopt;
    }
}

bool wouldList(const FileList& files, const std::string& name) {
    const std::vector<std::string> patterns = parsePatterns(files.Pattern());
    return !name.starts_with('.') &&
           std::any_of(patterns.begin(), patterns.end(), [&name](const std::string& pattern) {
               return matchesPattern(name, pattern);
           });
}

void browseTo(DriveList& drives, DirectoryList& directories, const std::string& directory) {
    directories.setPath(directory);
    // The drive's Change would take the lists to that drive's current directory.
    const QSignalBlocker quiet(drives);
    drives.setDrive(drives.driveOf(directories.Path()));
}

} // namespace kelvo
