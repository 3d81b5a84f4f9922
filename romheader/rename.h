// "Rename To List Name": an image renamed in place, in its own directory,
// with the save files an emulator keeps beside it, never over another file.
// Also used by the collection check and the command line.
#pragma once

#include "romheader/romheader.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvo {

// A file name longer than this is refused by the common file systems.
inline constexpr std::size_t kMaxFileNameBytes = 255;

// Why `name` cannot be a file's name in its directory: std::nullopt when it
// can, otherwise a sentence. Such names come from outside (a list), so they
// pass the checks a copy's name passes (no '/', '\\', control characters or
// : * ? " < > |, no leading '.', so never "." or ".."), and at most 255
// bytes. Two dots inside a name ("Game.. (USA).gba") stay in the directory.
[[nodiscard]] std::optional<std::string> fileNameProblem(std::string_view name);

struct Rename {
    std::string from; // paths: the file's directory joined with each name
    std::string to;
    bool operator==(const Rename&) const = default;
};

// The renames renameImage would make: the image first, then each save file
// beside it with the image's stem and the extension .sav or .srm (in either
// case), which takes the new name's stem. Empty when `newName` is the
// image's name already. Throws FileError: InvalidName for a name
// fileNameProblem refuses; AlreadyExists naming a target that another file
// has; NotRegular or System when the image cannot be found as a regular
// file; Changed when it is not the `expected` one (see FileIdentity).
[[nodiscard]] std::vector<Rename> planImageRename(const std::string& imagePath,
                                                  std::string_view newName,
                                                  const FileIdentity* expected = nullptr);

// Makes the renames planImageRename plans and returns them. Each takes its
// new name only if no file has it (renameat2 with RENAME_NOREPLACE, or link
// and unlink where the file system refuses that), so a file that appears
// under the name meanwhile is never replaced; only a file system with
// neither (FAT) leaves an instant between looking and renaming. A change of
// letter case alone goes through a temporary name, so it also works where
// the file system ignores case. When any rename fails, those made are undone
// and the failure is thrown (FileError naming the file); nothing is left
// renamed in part.
std::vector<Rename> renameImage(const std::string& imagePath, std::string_view newName,
                                const FileIdentity* expected = nullptr);

} // namespace kelvo
