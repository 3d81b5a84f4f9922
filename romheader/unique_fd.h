// Owner of one POSIX file descriptor. Private to the romheader library.
#pragma once

#include <unistd.h>

#include <utility>

namespace kelvo {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    [[nodiscard]] int get() const { return fd_; }
    [[nodiscard]] explicit operator bool() const { return fd_ >= 0; }

    // Closes now and reports close()'s result: after a write, a failing close
    // can be the first sign that the data did not reach the disk.
    [[nodiscard]] int close() { return fd_ >= 0 ? ::close(std::exchange(fd_, -1)) : 0; }

    void reset() {
        if (fd_ >= 0)
            ::close(std::exchange(fd_, -1));
    }

private:
    int fd_ = -1;
};

} // namespace kelvo
