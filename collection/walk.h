// Finding the images of a collection: a directory tree (or one file, or one
// .zip archive) walked for .gba, .agb and .bin files and .zip archives.
//
// The walk follows no symbolic link to a directory (such a link gives
// nothing) but takes a link to a file as that file; it enters each directory
// once, by device and inode, so no loop or bind mount traps it; hidden files
// and directories (names starting with '.') are left out. A directory that
// cannot be read is an item of its own, so it becomes a row. Names are the
// file system's bytes, not necessarily UTF-8.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvo {

// .gba, .agb or .bin, in any letter case.
[[nodiscard]] bool isImageName(std::string_view name);
// .zip in any letter case.
[[nodiscard]] bool isArchiveName(std::string_view name);

// `path` as the walk takes it: a relative path joined to the working
// directory (without resolving "." or ".."), an absolute one as it is.
[[nodiscard]] std::string absolutePath(const std::string& path);

struct WalkItem {
    enum class Kind {
        Image,   // a file to read as an image
        Archive, // a .zip archive, whose images are read from it
        Failure, // a directory (or a path given) that could not be read
    };
    Kind kind = Kind::Image;
    std::uint32_t root = 0;  // which of the paths walked
    std::uint64_t index = 0; // the order the walk found it in, from 0
    // Relative to the walked directory ("sub/a.gba"); a path given as a
    // file is its own name, and one that cannot be read is as given. The
    // walked path itself is the only item whose `path` is
    // absolutePath(the path given).
    std::string relative;
    std::string path;    // absolute
    struct stat info {}; // the file as the walk found it (links followed)
    std::string reason;  // for a Failure: what is wrong, for its row
};

struct WalkOptions {
    bool recursive = true; // false: the top directory's files only
    // Asked between entries; true stops the walk.
    std::function<bool()> stop;
};

// Walks each of `paths` in turn (a directory, an image file or an archive;
// a relative path is taken from the working directory) and hands each item
// to `found`, a directory's files in name order before its subdirectories.
// A path given explicitly is read whatever its name's ending, unless it
// ends in .zip; a path that cannot be read is a Failure item.
void walkCollection(const std::vector<std::string>& paths, const WalkOptions& options,
                    const std::function<void(WalkItem&&)>& found);

} // namespace kelvo
