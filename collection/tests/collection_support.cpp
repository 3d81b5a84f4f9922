#include "collection/tests/collection_support.h"

#include "romheader/imageedit.h"

#include <zlib.h>

#include <filesystem>

namespace kelvo::test {

namespace {

void put16(Bytes& out, std::uint32_t value) {
    out.push_back(std::uint8_t(value));
    out.push_back(std::uint8_t(value >> 8));
}

void put32(Bytes& out, std::uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

Bytes deflateRaw(const Bytes& data) {
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    Bytes out(deflateBound(&stream, uLong(data.size())));
    stream.next_in = const_cast<Bytef*>(data.data());
    stream.avail_in = uInt(data.size());
    stream.next_out = out.data();
    stream.avail_out = uInt(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

} // namespace

Bytes image(std::size_t size, std::uint8_t seed, std::string_view fields) {
    Bytes bytes(std::max<std::size_t>(size, kHeaderLength));
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = std::uint8_t(i * 7 + 3 + seed * 11);
    std::copy(kBootLogo.begin(), kBootLogo.end(), bytes.begin() + kLogoOffset);
    std::fill(bytes.begin() + kTitleOffset, bytes.begin() + kCheckOffset, 0);
    std::copy(fields.begin(), fields.end(), bytes.begin() + kTitleOffset);
    bytes[kFixedValueOffset] = kFixedValue;
    bytes[kCheckOffset] = headerCheck(std::span(bytes).subspan<kTitleOffset, kCheckedLength>());
    bytes.resize(size);
    return bytes;
}

Bytes makeZip(const std::vector<ZipEntry>& entries) {
    Bytes archive;
    Bytes directory;
    std::vector<std::uint32_t> offsets;
    for (const ZipEntry& entry : entries) {
        const std::uint32_t crc = entry.crc32.value_or(
            std::uint32_t(::crc32(0, entry.data.data(), uInt(entry.data.size()))));
        const Bytes data = entry.deflated ? deflateRaw(entry.data) : entry.data;
        const std::uint32_t size = entry.statedSize.value_or(std::uint32_t(entry.data.size()));
        const std::uint16_t flags = entry.encrypted ? 1 : 0;
        const std::uint16_t method = entry.deflated ? 8 : 0;
        const auto header = [&](Bytes& out, std::uint32_t signature) {
            put32(out, signature);
            if (signature == 0x02014b50)
                put16(out, 20); // made by
            put16(out, 20);     // needed
            put16(out, flags);
            put16(out, method);
            put32(out, 0); // time and date
            put32(out, crc);
            put32(out, std::uint32_t(data.size()));
            put32(out, size);
            put16(out, std::uint16_t(entry.name.size()));
            put16(out, 0); // extra
        };
        std::uint32_t offset = std::uint32_t(archive.size());
        if (entry.dataOf) {
            offset = offsets.at(*entry.dataOf);
        } else {
            header(archive, 0x04034b50);
            archive.insert(archive.end(), entry.name.begin(), entry.name.end());
            archive.insert(archive.end(), data.begin(), data.end());
        }
        offsets.push_back(offset);
        header(directory, 0x02014b50);
        put16(directory, 0); // comment
        put16(directory, 0); // disk
        put16(directory, 0); // internal attributes
        put32(directory, 0); // external attributes
        put32(directory, offset);
        directory.insert(directory.end(), entry.name.begin(), entry.name.end());
    }
    const std::uint32_t directoryOffset = std::uint32_t(archive.size());
    archive.insert(archive.end(), directory.begin(), directory.end());
    put32(archive, 0x06054b50);
    put32(archive, 0); // disks
    put16(archive, std::uint16_t(entries.size()));
    put16(archive, std::uint16_t(entries.size()));
    put32(archive, std::uint32_t(directory.size()));
    put32(archive, directoryOffset);
    put16(archive, 0); // comment
    return archive;
}

std::string describe(const CheckRow& row) {
    std::string line = cellText(row, CheckColumn::File) + '|' + cellText(row, CheckColumn::Header) +
                       '|' + cellText(row, CheckColumn::Crc32) + '|' +
                       cellText(row, CheckColumn::Sha1);
    if (row.listsLoaded)
        line += '|' + cellText(row, CheckColumn::ListStatus) + '|' +
                cellText(row, CheckColumn::ListName);
    return line;
}

void CollectionTest::makeDirectory(std::string_view name) const {
    std::filesystem::create_directories(path(name));
}

void CollectionTest::write(std::string_view name, const Bytes& bytes) const {
    const std::filesystem::path file = path(name);
    std::filesystem::create_directories(file.parent_path());
    writeFile(file.string(), bytes);
}

void CollectionTest::link(std::string_view name, std::string_view target) const {
    const std::filesystem::path file = path(name);
    std::filesystem::create_directories(file.parent_path());
    std::filesystem::create_symlink(std::string(target), file);
}

std::vector<CheckRow> CollectionTest::checkAll(CheckOptions options, const ListSet& lists,
                                               HashCache* cache) {
    CollectionCheck check(std::move(options), lists, cache);
    RowOrder order;
    std::vector<CheckRow> rows;
    for (bool finished = false; !finished;) {
        CheckBatch batch = check.takeWaiting(std::chrono::milliseconds(200));
        finished = batch.finished;
        for (CheckRow& row : order.add(std::move(batch)))
            rows.push_back(std::move(row));
    }
    return rows;
}

} // namespace kelvo::test
