// Loading a list: the file opened safely and read whole, its format told
// from its first bytes, and every problem turned into one ListError.
#include "checksumlists/checksumlist.h"

#include "checksumlists/listbuilder.h"
#include "checksumlists/zipreader.h"
#include "romheader/posixio.h"

#include <fcntl.h>

namespace kelvo {

namespace {

constexpr const char* kOperation = "read the checksum list";

std::string reasonText(std::size_t line, const std::string& problem, const std::string& member) {
    std::string reason = member.empty() ? std::string() : member + ": ";
    if (line > 0)
        reason += "line " + std::to_string(line) + ": ";
    return reason + problem;
}

bool startsWith(std::span<const std::uint8_t> bytes, std::string_view prefix) {
    return bytes.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), bytes.begin(),
                      [](char a, std::uint8_t b) { return std::uint8_t(a) == b; });
}

ListFormat detect(std::span<const std::uint8_t> bytes) {
    if (startsWith(bytes, "PK\x03\x04") || startsWith(bytes, "PK\x05\x06"))
        return ListFormat::Zip;
    // UTF-16 text can only be XML that declares its encoding.
    if (startsWith(bytes, "\xFF\xFE") || startsWith(bytes, "\xFE\xFF"))
        return ListFormat::LogiqxXml;
    std::size_t at = startsWith(bytes, "\xEF\xBB\xBF") ? 3 : 0;
    while (at < bytes.size() &&
           (bytes[at] == ' ' || bytes[at] == '\t' || bytes[at] == '\r' || bytes[at] == '\n'))
        ++at;
    if (at == bytes.size())
        throw ListProblem{0, "expected a checksum list, found an empty file", {}};
    return bytes[at] == '<' ? ListFormat::LogiqxXml : ListFormat::Clrmamepro;
}

std::shared_ptr<const ChecksumList> parseText(std::span<const std::uint8_t> bytes,
                                              const std::string& path, ListFormat format) {
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    ListBuilder builder(path);
    if (format == ListFormat::LogiqxXml) {
        readLogiqxXml(text, builder);
    } else {
        if (text.starts_with("\xEF\xBB\xBF"))
            text.remove_prefix(3);
        readClrmamepro(text, builder);
    }
    return builder.finish();
}

} // namespace

ListError::ListError(const std::string& path, std::size_t line, const std::string& problem,
                     const std::string& member)
    : FileError(Kind::Malformed, kOperation, path, reasonText(line, problem, member)), line_(line),
      problem_(problem), member_(member) {}

std::shared_ptr<const ChecksumList> parseChecksumList(std::span<const std::uint8_t> bytes,
                                                      const std::string& path, ListFormat format) {
    std::string member;
    try {
        if (format == ListFormat::Detect)
            format = detect(bytes);
        if (format != ListFormat::Zip)
            return parseText(bytes, path, format);
        ZipMember zipped = readListFromZip(bytes);
        member = std::move(zipped.name);
        const ListFormat inner = detect(zipped.bytes);
        if (inner == ListFormat::Zip)
            throw ListProblem{0, "expected a list, found another zip archive", {}};
        return parseText(zipped.bytes, path, inner);
    } catch (const ListProblem& problem) {
        throw ListError(path, problem.line, problem.problem,
                        problem.member.empty() ? member : problem.member);
    }
}

std::shared_ptr<const ChecksumList> loadChecksumList(const std::string& path) {
    // Read into memory that is not cleared first: every byte is overwritten.
    std::unique_ptr<std::uint8_t[]> buffer;
    std::size_t length = 0;
    // A NUL would end the path early, naming another file.
    if (const std::size_t nul = path.find('\0'); nul != std::string::npos)
        throw FileError(FileError::Kind::InvalidName, kOperation, path.substr(0, nul) + "\\0...",
                        "A path cannot hold a NUL byte");
    try {
        struct stat info {};
        const UniqueFd fd = posix::openRegular(path, O_RDONLY, info);
        if (std::uint64_t(info.st_size) > kMaxListFileSize)
            throw ListError(path, 0,
                            "expected a list of at most " + std::to_string(kMaxListFileSize >> 20) +
                                " MiB, found " + std::to_string(std::uint64_t(info.st_size) >> 20) +
                                " MiB");
        // One byte more than measured shows a file that grew meanwhile.
        const std::size_t room = std::size_t(info.st_size) + 1;
        buffer = std::make_unique_for_overwrite<std::uint8_t[]>(room);
        length = posix::readAt(fd.get(), std::span(buffer.get(), room), 0, path);
        if (length > std::size_t(info.st_size))
            throw FileError(FileError::Kind::Changed, kOperation, path,
                            "It grew while it was read");
    } catch (const ListError&) {
        throw;
    } catch (const FileError& error) {
        throw FileError(error.kind(), kOperation, path, error.reason(), error.code());
    }
    return parseChecksumList(std::span(buffer.get(), length), path);
}

} // namespace kelvo
