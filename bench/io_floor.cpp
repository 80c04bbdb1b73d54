// The I/O floor for the converter's benchmark: reads a file in 256 KiB
// chunks and writes the first fifth of each chunk, with no other work, the
// way the converter would at best.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: tolvane_io_floor IN OUT\n", stderr);
        return 2;
    }
    const int in = ::open(argv[1], O_RDONLY);
    const int out = ::open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (in < 0 || out < 0) {
        std::perror("open");
        return 1;
    }
    std::vector<char> buffer(256 * 1024);
    ssize_t got = 0;
    while ((got = ::read(in, buffer.data(), buffer.size())) > 0) {
        if (::write(out, buffer.data(), static_cast<std::size_t>(got / 5)) < 0) {
            std::perror("write");
            return 1;
        }
    }
    return (got < 0 || ::close(out) != 0) ? 1 : 0;
}
