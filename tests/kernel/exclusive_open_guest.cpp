// exclusive_open_guest NODE: opens NODE for writing and exclusively, as mkfs or a partitioner
// opens a disk, and says what came of it: "opened", or the error's name (EBUSY, ENOENT, ...).
// Exits 0 when it opened.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: exclusive_open_guest NODE\n");
        return 2;
    }
    const int fd = ::open(argv[1], O_RDWR | O_EXCL | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        std::printf("opened\n");
        ::close(fd);
        return 0;
    }
    const int error = errno;
    std::printf("%s\n", error == EBUSY    ? "EBUSY"
                        : error == ENOENT ? "ENOENT"
                        : error == ENXIO  ? "ENXIO"
                                          : std::strerror(error));
    return 1;
}
