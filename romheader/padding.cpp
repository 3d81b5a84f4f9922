// Padding: a file's state as a plan records it, appending with the undo of a
// failed append, padding to a power of two, and trimming the padding that
// ends an image.
#include "romheader/editio.h"
#include "romheader/posixio.h"
#include "romheader/termination.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>

namespace kelvo {

namespace {

using Kind = FileError::Kind;

[[noreturn]] void throwChanged(const char* operation, const std::string& path) {
    throw FileError(Kind::Changed, operation, path,
                    "It changed since it was read; nothing was written");
}

// Where the hole that ends the file starts, or `size` when data reaches the
// end (or the file system cannot tell). A hole reads as zeros, so 0x00
// padding there (a sparse image's) is counted without being read. A file of
// very many extents is read instead.
std::uint64_t finalHoleStart(int fd, std::uint64_t size) {
    off_t position = 0;
    for (int extents = 0; extents < 4096; ++extents) {
        const off_t hole = ::lseek(fd, position, SEEK_HOLE);
        if (hole < 0 || std::uint64_t(hole) >= size)
            return size;
        const off_t data = ::lseek(fd, hole, SEEK_DATA);
        if (data < 0)
            return errno == ENXIO ? std::uint64_t(hole) : size;
        position = data;
    }
    return size;
}

// How many of the bytes ending `bytes` equal `value`, eight at a time.
std::size_t runAtEnd(std::span<const std::uint8_t> bytes, std::uint8_t value) {
    const std::uint64_t eight = 0x0101010101010101u * value;
    std::size_t end = bytes.size();
    for (std::uint64_t word; end >= 8; end -= 8) {
        std::memcpy(&word, bytes.data() + end - 8, sizeof word);
        if (word != eight)
            break;
    }
    while (end > 0 && bytes[end - 1] == value)
        --end;
    return bytes.size() - end;
}

struct Tail {
    std::uint8_t value = 0;
    std::uint64_t run = 0; // bytes equal to value that end the file
};

// The run that ends a file of `size` (> 0) bytes, read backwards.
Tail trailingRun(int fd, std::uint64_t size, const char* operation, const std::string& path) {
    constexpr std::size_t kChunk = 64 * 1024;
    Tail tail;
    if (posix::readAt(fd, std::span(&tail.value, 1), off_t(size - 1), path) != 1)
        throwChanged(operation, path); // it shrank meanwhile
    std::uint64_t end = tail.value == 0 ? finalHoleStart(fd, size) : size;
    std::vector<std::uint8_t> buffer(kChunk);
    while (end > 0) {
        const auto chunk =
            std::span(buffer).first(std::size_t(std::min<std::uint64_t>(end, kChunk)));
        if (posix::readAt(fd, chunk, off_t(end - chunk.size()), path) != chunk.size())
            throwChanged(operation, path);
        const std::size_t run = runAtEnd(chunk, tail.value);
        end -= run;
        if (run < chunk.size())
            break;
    }
    tail.run = size - end;
    return tail;
}

TrimPlan trimPlanOf(int fd, const struct stat& info, const std::string& path) {
    TrimPlan plan;
    plan.state = posix::stateOf(info);
    plan.sizeAfter = plan.state.size;
    const Tail tail = trailingRun(fd, plan.state.size, "trim", path);
    if (isPadding(tail.value, tail.run)) {
        plan.value = tail.value;
        plan.sizeAfter = trimmedSize(plan.state.size, tail.run);
    }
    return plan;
}

} // namespace

namespace posix {

FileState stateOf(const struct stat& info) {
    return {identityOf(info), static_cast<std::uint64_t>(info.st_size),
            std::int64_t{info.st_mtim.tv_sec} * 1'000'000'000 + info.st_mtim.tv_nsec};
}

UniqueFd openAsPlanned(const std::string& path, int flags, const FileState& expected,
                       const char* operation) {
    struct stat info {};
    UniqueFd fd = openRegular(path, flags, info);
    const FileState now = stateOf(info);
    if (now.identity != expected.identity)
        throw FileError(Kind::Changed, operation, path,
                        "It was replaced by another file since it was read; nothing was written");
    if (now != expected)
        throwChanged(operation, path);
    return fd;
}

void appendAt(int fd, std::uint64_t size, std::uint64_t count, std::uint8_t value,
              const char* operation, const std::string& path) {
    const std::vector<std::uint8_t> bytes(count, value);
    try {
        writeAt(fd, bytes, off_t(size), path);
        if (::fsync(fd) != 0)
            throwSystem(operation, path, errno);
    } catch (const FileError&) {
        // Whatever part of it landed goes again; the write's error is the
        // one to report.
        if (::ftruncate(fd, off_t(size)) == 0)
            ::fsync(fd);
        throw;
    }
}

std::uint64_t paddingToPowerOfTwo(std::uint64_t size, const char* operation,
                                  const std::string& path) {
    const std::uint64_t target = nextPowerOfTwo(size);
    if (target != size && size > kLargestImage)
        throw FileError(Kind::TooLarge, operation, path,
                        std::to_string(size) +
                            " bytes long, more than a cartridge holds (32 MiB); not padded");
    return target - size;
}

} // namespace posix

FileState fileState(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        posix::throwSystem("read", path, errno);
    return posix::stateOf(info);
}

std::uint64_t nextPowerOfTwo(std::uint64_t size) {
    if (size > (std::uint64_t{1} << 63))
        return 0;
    return std::bit_ceil(std::max<std::uint64_t>(size, 1));
}

PadPlan planPad(const std::string& path, std::uint8_t value) {
    struct stat info {};
    const UniqueFd fd = posix::openRegular(path, O_RDONLY, info);
    static_cast<void>(posix::readWholeHeader(fd.get(), info, "pad", path));
    PadPlan plan;
    plan.state = posix::stateOf(info);
    plan.value = value;
    plan.count = posix::paddingToPowerOfTwo(plan.state.size, "pad", path);
    return plan;
}

void appendBytes(const std::string& path, std::uint64_t count, std::uint8_t value,
                 const FileState& expected) {
    if (count == 0)
        return;
    if (count > kLargestImage)
        throw FileError(Kind::TooLarge, "append to", path,
                        std::to_string(count) + " bytes to append, more than a cartridge holds");
    const TerminationGuard guard;
    UniqueFd fd = posix::openAsPlanned(path, O_RDWR, expected, "append to");
    posix::appendAt(fd.get(), expected.size, count, value, "append to", path);
    if (fd.close() != 0)
        posix::throwSystem("append to", path, errno);
}

std::uint64_t trimmedSize(std::uint64_t size, std::uint64_t run) {
    const std::uint64_t firstPadding = size - std::min(run, size);
    const std::uint64_t cut = std::max<std::uint64_t>((firstPadding + 3) / 4 * 4, kHeaderLength);
    return std::min(cut, size);
}

TrimPlan planTrim(const std::string& path) {
    struct stat info {};
    const UniqueFd fd = posix::openRegular(path, O_RDONLY, info);
    static_cast<void>(posix::readWholeHeader(fd.get(), info, "trim", path));
    return trimPlanOf(fd.get(), info, path);
}

void trimImage(const std::string& path, const TrimPlan& plan) {
    if (plan.sizeAfter >= plan.state.size)
        return;
    UniqueFd fd = posix::openAsPlanned(path, O_RDWR, plan.state, "trim");
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0)
        posix::throwSystem("trim", path, errno);
    const TrimPlan now = trimPlanOf(fd.get(), info, path);
    if (now.sizeAfter != plan.sizeAfter || now.value != plan.value)
        throwChanged("trim", path);
    if (::ftruncate(fd.get(), off_t(plan.sizeAfter)) != 0 || ::fsync(fd.get()) != 0 ||
        fd.close() != 0)
        posix::throwSystem("trim", path, errno);
}

} // namespace kelvo
