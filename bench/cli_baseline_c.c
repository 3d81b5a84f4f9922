/* The same as cli_baseline.cpp in plain C, linked to the C library alone:
 * what a process that does this costs with nothing else loaded. */
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char* argv[]) {
    const int write = argc == 3 && strcmp(argv[1], "--write") == 0;
    unsigned char header[192];
    char title[13] = {0};
    int fd;
    if (argc < 2)
        return 2;
    fd = open(argv[argc - 1], (write ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (fd < 0 || pread(fd, header, sizeof header, 0) != (ssize_t)sizeof header)
        return 1;
    if (write && (pwrite(fd, header + 0xA0, 30, 0xA0) != 30 || fsync(fd) != 0))
        return 1;
    close(fd);
    memcpy(title, header + 0xA0, 12);
    printf("%s\n", title);
    return 0;
}
