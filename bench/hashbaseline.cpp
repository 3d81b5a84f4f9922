#include "hashbaseline.h"

#include "romheader/imageinfo.h"

#include <openssl/evp.h>
#include <zlib.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <fstream>

namespace kelvo::bench {

std::vector<std::string> Digests::texts() const {
    const std::array<std::uint8_t, 4> crcBytes{std::uint8_t(crc >> 24), std::uint8_t(crc >> 16),
                                               std::uint8_t(crc >> 8), std::uint8_t(crc)};
    return {hexText(crcBytes), hexText(md5), hexText(sha1), hexText(sha256)};
}

Digests readAndHash(const std::string& path, std::vector<std::uint8_t>& buffer) {
    Digests digests;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const EVP_MD* types[] = {EVP_md5(), EVP_sha1(), EVP_sha256()};
    std::array<EVP_MD_CTX*, 3> contexts{};
    for (std::size_t i = 0; i < contexts.size(); ++i) {
        contexts[i] = EVP_MD_CTX_new();
        EVP_DigestInit_ex(contexts[i], types[i], nullptr);
    }
    uLong crc = ::crc32(0L, Z_NULL, 0);
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n <= 0)
            break;
        crc = ::crc32(crc, buffer.data(), uInt(n));
        for (EVP_MD_CTX* context : contexts)
            EVP_DigestUpdate(context, buffer.data(), std::size_t(n));
    }
    ::close(fd);
    digests.crc = std::uint32_t(crc);
    EVP_DigestFinal_ex(contexts[0], digests.md5.data(), nullptr);
    EVP_DigestFinal_ex(contexts[1], digests.sha1.data(), nullptr);
    EVP_DigestFinal_ex(contexts[2], digests.sha256.data(), nullptr);
    for (EVP_MD_CTX* context : contexts)
        EVP_MD_CTX_free(context);
    return digests;
}

void makeDumpLikeImage(const std::string& path, std::size_t size) {
    std::vector<std::uint8_t> bytes(size, 0xFF);
    std::uint32_t state = 0x12345678;
    for (std::size_t i = 0; i < size / 2; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        bytes[i] = std::uint8_t(state);
    }
    const std::string_view id = "SRAM_V113";
    std::copy(id.begin(), id.end(), bytes.begin() + long(size / 4));
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(size));
}

} // namespace kelvo::bench
