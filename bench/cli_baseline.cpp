// The least a header tool does, as a whole process: open an image, read its
// 192-byte header and print the title; with --write, also write 30 header
// bytes (0xA0..0xBD) back and fsync. Built and linked like kelvo-gba-cli (the
// same shared libraries, the same hardening), so the two processes differ in
// what they do, not in what they load.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char* argv[]) {
    const bool write = argc == 3 && std::strcmp(argv[1], "--write") == 0;
    if (argc < 2)
        return 2;
    const int fd = ::open(argv[argc - 1], (write ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    unsigned char header[192];
    if (fd < 0 || ::pread(fd, header, sizeof header, 0) != ssize_t(sizeof header))
        return 1;
    if (write && (::pwrite(fd, header + 0xA0, 30, 0xA0) != 30 || ::fsync(fd) != 0))
        return 1;
    ::close(fd);
    const std::string title(reinterpret_cast<const char*>(header + 0xA0), 12);
    std::printf("%s\n", title.c_str());
    return 0;
}
