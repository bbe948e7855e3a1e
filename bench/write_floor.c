/* What the RAW file's 128-byte blocks cost by themselves: writes SIZE bytes
 * to FILE in write() calls of 128 bytes each (the last one shorter), and
 * nothing else. speed_bench.py times it beside the converters, as the floor
 * under any converter that writes in such blocks. */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s FILE SIZE\n", argv[0]);
        return 2;
    }
    long long left = atoll(argv[2]);
    char block[128];
    memset(block, '1', sizeof block);
    int fd = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0) {
        perror(argv[1]);
        return 1;
    }
    while (left > 0) {
        size_t size = left < (long long)sizeof block ? (size_t)left : sizeof block;
        if (write(fd, block, size) != (ssize_t)size) {
            perror(argv[1]);
            return 1;
        }
        left -= (long long)size;
    }
    return close(fd) == 0 ? 0 : 1;
}
