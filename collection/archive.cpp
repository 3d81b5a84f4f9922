// Zip archives through libzip, opened read-only (ZIP_RDONLY) with its
// stricter consistency checks (ZIP_CHECKCONS). The archive's own descriptor
// is kept beside libzip's to tell whether it changed while it was read.
#include "collection/archive.h"

#include "collection/walk.h"
#include "romheader/posixio.h"

#include <fcntl.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_set>

namespace kelvo {

namespace {

using Kind = FileError::Kind;

struct ZipCloser {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct ZipFileCloser {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};

[[noreturn]] void refuseArchive(const std::string& path, const std::string& reason) {
    throw FileError(Kind::Malformed, "read the archive", path, reason);
}

// An error opening the archive: the system's, or the archive's own.
[[noreturn]] void throwOpenError(const std::string& path, zip_error_t* error) {
    const int code = zip_error_code_system(error);
    const bool system = zip_error_system_type(error) == ZIP_ET_SYS && code != 0;
    std::string text = zip_error_strerror(error);
    zip_error_fini(error);
    if (system)
        throw FileError(Kind::System, "read the archive", path, std::strerror(code), code);
    refuseArchive(path, "damaged archive: " + text);
}

bool hiddenName(std::string_view name) {
    const std::size_t slash = name.find_last_of('/');
    return name.substr(slash == std::string_view::npos ? 0 : slash + 1).starts_with('.');
}

// libzip on a descriptor of its own, opened from `fd` (the name may point
// elsewhere by now). Returns null only for an archive with two members of
// one name, which the stricter checks refuse; throws for anything else.
zip_t* openDescriptor(int fd, int flags, const std::string& path) {
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0)
        posix::throwSystem("read the archive", path, errno);
    int code = 0;
    zip_t* archive = zip_fdopen(copy, flags, &code);
    if (archive)
        return archive;
    const int reason = errno;
    ::close(copy);
    if (code == ZIP_ER_EXISTS && (flags & ZIP_CHECKCONS))
        return nullptr;
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    if (zip_error_system_type(&error) == ZIP_ET_SYS)
        zip_error_set(&error, code, reason);
    throwOpenError(path, &error);
}

} // namespace

std::string ArchiveMember::cacheName() const {
    // After a NUL, which no member's name holds.
    return repeatedName ? name + '\0' + "entry " + std::to_string(index) : name;
}

struct ZipArchive::Impl {
    std::string path;
    UniqueFd fd; // -1 for an archive in memory
    std::unique_ptr<zip_t, ZipCloser> archive;
    std::vector<ArchiveMember> images;
    std::size_t leftOut = 0;

    // Lists the image members and refuses an archive whose members overlap
    // or claim more than compression can give.
    void index(std::uint64_t archiveSize) {
        const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
        std::unordered_set<std::string> names;
        std::uint64_t compressed = 0;
        std::uint64_t claimed = 0;
        for (zip_int64_t i = 0; i < count; ++i) {
            zip_stat_t info;
            zip_stat_init(&info);
            if (zip_stat_index(archive.get(), zip_uint64_t(i), 0, &info) != 0)
                refuseArchive(path, "damaged archive: " + std::string(zip_strerror(archive.get())));
            if (info.valid & ZIP_STAT_COMP_SIZE)
                compressed += info.comp_size;
            const std::string_view name =
                (info.valid & ZIP_STAT_NAME) && info.name ? info.name : "";
            if (name.empty() || name.back() == '/' || hiddenName(name) || !isImageName(name))
                continue;
            if (images.size() == kMaxArchiveImages) {
                ++leftOut;
                continue;
            }
            ArchiveMember member;
            member.index = zip_uint64_t(i);
            member.name = std::string(name);
            member.size = (info.valid & ZIP_STAT_SIZE) ? info.size : 0;
            member.compressedSize = (info.valid & ZIP_STAT_COMP_SIZE) ? info.comp_size : 0;
            member.crc32 = (info.valid & ZIP_STAT_CRC) ? info.crc : 0;
            member.encrypted =
                (info.valid & ZIP_STAT_ENCRYPTION_METHOD) && info.encryption_method != ZIP_EM_NONE;
            member.repeatedName = !names.insert(member.name).second;
            if (!member.encrypted && member.size <= kMaxImageSize)
                claimed += member.size;
            images.push_back(std::move(member));
        }
        // Members whose data overlap hold more compressed bytes than the
        // file does: the non-recursive zip bomb.
        if (compressed > archiveSize)
            refuseArchive(path, "zip bomb: its members overlap (" + std::to_string(compressed) +
                                    " compressed bytes in " + std::to_string(archiveSize) + ")");
        if (claimed > kBombFloor && claimed / kMaxArchiveRatio > archiveSize)
            refuseArchive(path, "zip bomb: its images claim " + std::to_string(claimed) +
                                    " bytes from " + std::to_string(archiveSize));
    }

    [[noreturn]] void refuseMember(const ArchiveMember& member, const std::string& reason) const {
        throw FileError(Kind::Malformed, "read", path + '/' + member.name, reason);
    }

    [[noreturn]] void memberError(const ArchiveMember& member, zip_error_t* error) const {
        switch (zip_error_code_zip(error)) {
        case ZIP_ER_COMPNOTSUPP:
            refuseMember(member, "unsupported compression method");
        case ZIP_ER_ENCRNOTSUPP:
        case ZIP_ER_NOPASSWD:
        case ZIP_ER_WRONGPASSWD:
            refuseMember(member, "encrypted archive member");
        case ZIP_ER_READ:
        case ZIP_ER_SEEK:
            if (const int code = zip_error_code_system(error); code != 0)
                throw FileError(Kind::System, "read", path + '/' + member.name, std::strerror(code),
                                code);
            break;
        default:
            break;
        }
        refuseMember(member, "damaged archive member");
    }

    [[nodiscard]] std::unique_ptr<zip_file_t, ZipFileCloser>
    openMember(const ArchiveMember& member) const {
        if (member.encrypted)
            refuseMember(member, "encrypted archive member");
        zip_file_t* file = zip_fopen_index(archive.get(), member.index, 0);
        if (!file)
            memberError(member, zip_get_error(archive.get()));
        return std::unique_ptr<zip_file_t, ZipFileCloser>(file);
    }
};

ZipArchive::ZipArchive(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
ZipArchive::~ZipArchive() = default;
ZipArchive::ZipArchive(ZipArchive&&) noexcept = default;
ZipArchive& ZipArchive::operator=(ZipArchive&&) noexcept = default;

ZipArchive ZipArchive::open(const std::string& path, struct stat& info) {
    auto impl = std::make_unique<Impl>();
    impl->path = path;
    impl->fd = posix::openRegular(path, O_RDONLY, info);
    zip_t* archive = openDescriptor(impl->fd.get(), ZIP_RDONLY | ZIP_CHECKCONS, path);
    // The stricter checks refuse two members of one name; such an archive
    // is read without them (each member's length and CRC32 are still checked).
    if (!archive)
        archive = openDescriptor(impl->fd.get(), ZIP_RDONLY, path);
    impl->archive.reset(archive);
    impl->index(std::uint64_t(info.st_size));
    return ZipArchive(std::move(impl));
}

ZipArchive ZipArchive::fromBytes(std::span<const std::uint8_t> bytes, const std::string& path) {
    auto impl = std::make_unique<Impl>();
    impl->path = path;
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
    if (!source)
        throwOpenError(path, &error);
    zip_t* archive = zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error);
    if (!archive && zip_error_code_zip(&error) == ZIP_ER_EXISTS) {
        zip_error_fini(&error);
        zip_error_init(&error);
        archive = zip_open_from_source(source, ZIP_RDONLY, &error);
    }
    if (!archive) { // a source that opened nothing is still the caller's
        zip_source_free(source);
        throwOpenError(path, &error);
    }
    zip_error_fini(&error);
    impl->archive.reset(archive);
    impl->index(bytes.size());
    return ZipArchive(std::move(impl));
}

const std::vector<ArchiveMember>& ZipArchive::images() const {
    return impl_->images;
}

std::size_t ZipArchive::imagesLeftOut() const {
    return impl_->leftOut;
}

bool ZipArchive::statNow(struct stat& info) const {
    return impl_->fd && ::fstat(impl_->fd.get(), &info) == 0;
}

void ZipArchive::inflate(const ArchiveMember& member, ImageHasher& hasher,
                         const Progress& progress) const {
    const auto file = impl_->openMember(member);
    // One byte past the stated size tells a member that is longer.
    std::uint64_t done = 0;
    for (;;) {
        const std::span<std::uint8_t> buffer = hasher.buffer();
        const auto wanted =
            std::size_t(std::min<std::uint64_t>(buffer.size(), member.size + 1 - done));
        const zip_int64_t n = zip_fread(file.get(), buffer.data(), wanted);
        if (n < 0)
            impl_->memberError(member, zip_file_get_error(file.get()));
        if (n == 0)
            break;
        hasher.commit(std::size_t(n));
        done += std::uint64_t(n);
        if (done > member.size)
            impl_->refuseMember(member, "damaged archive member");
        if (progress && !progress(done))
            throw FileError(Kind::Cancelled, "read", impl_->path + '/' + member.name, "Cancelled");
    }
    if (done != member.size)
        impl_->refuseMember(member, "damaged archive member");
}

std::uint64_t ZipArchive::readHeader(const ArchiveMember& member, HeaderBytes& header) const {
    header.fill(0);
    const auto file = impl_->openMember(member);
    std::size_t done = 0;
    while (done < header.size()) {
        const zip_int64_t n = zip_fread(file.get(), header.data() + done, header.size() - done);
        if (n < 0)
            impl_->memberError(member, zip_file_get_error(file.get()));
        if (n == 0)
            break;
        done += std::size_t(n);
    }
    return done;
}

} // namespace kelvo
