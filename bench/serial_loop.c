/* The serial benchmark's loop in plain C (see bench/serial.sh):
 *   bench_serial_loop <device> <rounds> poll|pause
 * Writes 8 bytes and reads the 8-byte answer, rounds times, on a device that echoes,
 * dropping what was received before each write as the module does. "poll" waits for the
 * answer with poll(2); "pause" waits as the module does: the input queue checked before
 * each pause of 1 ms. Prints the time of the loop and the rounds whose answer was wrong. */
#define _DEFAULT_SOURCE
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

/* Reads n bytes: blocking in poll, or in pauses of 1 ms until all are queued. */
static int answer(int fd, char* buffer, int n, int pauses) {
    int got = 0;
    if (pauses) {
        const struct timespec pause = {0, 1000000};
        int queued = 0;
        for (int budget = 150; budget > 0; budget--) {
            if (ioctl(fd, FIONREAD, &queued) != 0 || queued >= n) break;
            nanosleep(&pause, NULL);
        }
        return queued >= n ? (int)read(fd, buffer, n) : 0;
    }
    while (got < n) {
        struct pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, 1000) <= 0) break;
        ssize_t r = read(fd, buffer + got, n - got);
        if (r <= 0) break;
        got += (int)r;
    }
    return got;
}

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: %s <device> <rounds> poll|pause\n", argv[0]);
        return 2;
    }
    int fd = open(argv[1], O_RDWR | O_NOCTTY);
    struct termios t;
    if (fd < 0 || tcgetattr(fd, &t) != 0) {
        perror(argv[1]);
        return 1;
    }
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    cfsetspeed(&t, B115200);
    tcsetattr(fd, TCSANOW, &t);
    int rounds = atoi(argv[2]), pauses = strcmp(argv[3], "pause") == 0, wrong = 0;
    const char request[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    char buffer[8];
    double start = now();
    for (int i = 0; i < rounds; i++) {
        tcflush(fd, TCIFLUSH);
        if (write(fd, request, 8) != 8 || answer(fd, buffer, 8, pauses) != 8 ||
            memcmp(buffer, request, 8) != 0)
            wrong++;
    }
    printf("loop %.0f ms, %d wrong\n", (now() - start) * 1000, wrong);
    close(fd);
    return 0;
}
