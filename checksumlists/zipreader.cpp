// A list handed out as a .zip archive holding it, read from memory through
// libzip. Only the one member is inflated, and never past the size the
// archive's directory states for it (at most kMaxListFileSize), so a zip
// bomb costs no more than a list of that size; libzip checks the member's
// CRC as it reads the end.
#include "checksumlists/zipreader.h"

#include "checksumlists/listbuilder.h"

#include <zip.h>

#include <memory>

namespace kelvo {

namespace {

struct ZipCloser {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct ZipFileCloser {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};

bool isListName(std::string_view name) {
    if (name.size() < 4 || name.back() == '/')
        return false;
    std::string ending(name.substr(name.size() - 4));
    for (char& ch : ending)
        ch = char(ch | 0x20);
    return ending == ".dat" || ending == ".xml";
}

std::string zipReason(zip_error_t* error) {
    std::string reason = zip_error_strerror(error);
    zip_error_fini(error);
    return reason;
}

} // namespace

ZipMember readListFromZip(std::span<const std::uint8_t> bytes) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
    if (!source)
        refuseList(0, "expected a zip archive (" + zipReason(&error) + ")");
    const std::unique_ptr<zip_t, ZipCloser> archive(
        zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error));
    if (!archive) {
        zip_source_free(source);
        refuseList(0, "expected a zip archive (" + zipReason(&error) + ")");
    }
    zip_error_fini(&error);

    const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
    std::optional<zip_uint64_t> found;
    std::string names;
    int lists = 0;
    for (zip_int64_t i = 0; i < count; ++i) {
        const char* name = zip_get_name(archive.get(), zip_uint64_t(i), 0);
        if (!name || !isListName(name))
            continue;
        found = zip_uint64_t(i);
        if (++lists <= 3)
            names += std::string(lists > 1 ? ", " : "") + std::string(name).substr(0, 80);
    }
    if (lists == 0)
        refuseList(0, "expected the archive to hold a list file (.dat or .xml); it holds none");
    if (lists > 1)
        refuseList(0, "expected the archive to hold one list file; it holds " +
                          std::to_string(lists) + " (" + names + (lists > 3 ? ", ...)" : ")"));

    ZipMember member;
    zip_stat_t info;
    zip_stat_init(&info);
    if (zip_stat_index(archive.get(), *found, 0, &info) != 0)
        refuseList(0, "expected a readable archive (" + std::string(zip_strerror(archive.get())) +
                          ")");
    member.name = info.name ? info.name : "";
    const auto refuse = [&member](const std::string& problem) {
        throw ListProblem{0, problem, member.name};
    };
    if ((info.valid & ZIP_STAT_ENCRYPTION_METHOD) && info.encryption_method != ZIP_EM_NONE)
        refuse("expected a member that is not encrypted");
    if (!(info.valid & ZIP_STAT_SIZE) || info.size > kMaxListFileSize)
        refuse("expected a list of at most " + std::to_string(kMaxListFileSize >> 20) + " MiB");

    const std::unique_ptr<zip_file_t, ZipFileCloser> file(
        zip_fopen_index(archive.get(), *found, 0));
    if (!file)
        refuse("expected a member that can be inflated (" +
               std::string(zip_strerror(archive.get())) + ")");
    // One byte more than stated shows a member longer than its directory says.
    member.bytes.resize(std::size_t(info.size) + 1);
    std::size_t done = 0;
    while (done < member.bytes.size()) {
        const zip_int64_t n =
            zip_fread(file.get(), member.bytes.data() + done, member.bytes.size() - done);
        if (n < 0)
            refuse("expected an undamaged member (" +
                   std::string(zip_error_strerror(zip_file_get_error(file.get()))) + ")");
        if (n == 0)
            break;
        done += std::size_t(n);
    }
    if (done != info.size)
        refuse("expected an undamaged member (its length differs from the archive's directory)");
    member.bytes.resize(done);
    return member;
}

} // namespace kelvo
