// Ways into the windows from outside them: a path given on the command line
// and a file or directory dropped from a file manager.
#pragma once

#include "romheader/dirlist.h"

#include <optional>
#include <string>

class QMimeData;

namespace kelvo {

class DirectoryList;
class DriveList;
class FileList;

struct DroppedPath {
    std::string path; // native, absolute
    PathKind kind;
};

// The one local regular file or directory a drop carries. Empty for
// anything else: several items, a URL that is not a local file, plain text,
// a missing path, a FIFO or device. Nothing is opened to tell.
[[nodiscard]] std::optional<DroppedPath> droppedPath(const QMimeData* data);

// Points a window's lists at `directory` as a user browsing there would: the
// directory list first (it throws FileError, changing nothing, when the
// directory cannot be read), then the drive holding it, without raising
// the drive list's Change.
void browseTo(DriveList& drives, DirectoryList& directories, const std::string& directory);

} // namespace kelvo
