// A fresh directory per test, sample images built in code, and a small
// tmpfs for running out of space.
#pragma once

#include "romheader/romheader.h"

#include <gtest/gtest.h>

#include <sys/mount.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace kelvo::test {

using Bytes = std::vector<std::uint8_t>;

// A cartridge image whose header is SAMPLE TITLE / AXYJ / 01 with a valid
// check byte (0x50). Every other byte differs from its neighbours, so a
// write in the wrong place or of the wrong length shows.
inline Bytes sampleImage(std::size_t length = 4096) {
    Bytes image(std::max<std::size_t>(length, 0xC0));
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<std::uint8_t>(i * 7 + 3);
    const std::string_view fields = "SAMPLE TITLEAXYJ01";
    std::copy(fields.begin(), fields.end(), image.begin() + kTitleOffset);
    image[0xB2] = 0x96;
    std::fill(image.begin() + 0xB3, image.begin() + 0xBD, 0);
    image[kCheckOffset] = 0x50;
    image.resize(length);
    return image;
}

inline void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << "could not write the test file " << path;
}

inline Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class ScratchDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kelvo-test-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr) << "mkdtemp: " << std::strerror(errno);
        dir_ = pattern;
    }

    void TearDown() override {
        for (auto it = mounts_.rbegin(); it != mounts_.rend(); ++it)
            ::umount2(it->c_str(), MNT_DETACH);
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    [[nodiscard]] const std::string& dir() const { return dir_; }
    [[nodiscard]] std::string path(std::string_view name) const { return joinPath(dir_, name); }

    // The names in a directory, sorted: what a failed operation left behind.
    [[nodiscard]] std::vector<std::string> namesIn(const std::string& directory) const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(directory))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    // Mounts a tmpfs of `bytes` at the subdirectory `name`; returns its path,
    // or "" where mounting is not allowed (not root, or in a container).
    std::string mountSmallTmpfs(std::string_view name, std::size_t bytes) {
        const std::string mountPoint = path(name);
        std::filesystem::create_directory(mountPoint);
        const std::string options = "size=" + std::to_string(bytes);
        if (::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, options.c_str()) != 0)
            return {};
        mounts_.push_back(mountPoint);
        return mountPoint;
    }

private:
    std::string dir_;
    std::vector<std::string> mounts_;
};

} // namespace kelvo::test
