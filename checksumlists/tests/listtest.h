// What the checksum-list tests share: a list read from text, an entry
// written as one line to compare, and zip archives built in memory.
#pragma once

#include "checksumlists/checksumlist.h"
#include "romheader/imageinfo.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <string>
#include <utility>
#include <vector>

namespace kelvo::test {

inline std::span<const std::uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

inline std::shared_ptr<const ChecksumList> parse(std::string_view text,
                                                 ListFormat format = ListFormat::Detect) {
    return parseChecksumList(bytesOf(text), "/lists/x.dat", format);
}

// "game|name|size|crc|md5|sha1|sha256|status|serial", "-" for what is unknown.
inline std::string describe(const ListRom& rom) {
    const auto hex = [](const auto& digest) {
        return digest ? hexText(*digest) : std::string("-");
    };
    const char* statuses[] = {"good", "verified", "baddump", "nodump"};
    std::array<std::uint8_t, 4> crc{};
    if (rom.crc32)
        crc = {std::uint8_t(*rom.crc32 >> 24), std::uint8_t(*rom.crc32 >> 16),
               std::uint8_t(*rom.crc32 >> 8), std::uint8_t(*rom.crc32)};
    return std::string(rom.game) + "|" + std::string(rom.name) + "|" + (rom.size ? std::to_string(*rom.size) : "-") + "|" +
           (rom.crc32 ? hexText(crc) : "-") + "|" + hex(rom.md5) + "|" + hex(rom.sha1) + "|" +
           hex(rom.sha256) + "|" + statuses[int(rom.status)] + "|" + std::string(rom.serial);
}

using Members = std::vector<std::pair<std::string, std::string>>;

// A zip archive holding `members` (name, contents), deflated.
inline std::string makeZip(const Members& members) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
    zip_t* archive = zip_open_from_source(buffer, ZIP_TRUNCATE, &error);
    zip_source_keep(buffer);
    for (const auto& [name, contents] : members) {
        zip_source_t* data = zip_source_buffer(archive, contents.data(), contents.size(), 0);
        zip_file_add(archive, name.c_str(), data, 0);
    }
    EXPECT_EQ(zip_close(archive), 0) << "could not build the test archive";
    std::string bytes;
    zip_stat_t info;
    if (zip_source_open(buffer) == 0 && zip_source_stat(buffer, &info) == 0) {
        bytes.resize(info.size);
        bytes.resize(std::size_t(
            std::max<zip_int64_t>(0, zip_source_read(buffer, bytes.data(), bytes.size()))));
        zip_source_close(buffer);
    }
    zip_source_free(buffer);
    zip_error_fini(&error);
    return bytes;
}

} // namespace kelvo::test
