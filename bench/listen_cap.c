/* A preload library for bench/backlog.sh: listen() with its backlog cut to
 * $CAPSULE_BENCH_BACKLOG (when set), so that one build serves both rows of the bench, the
 * queue of 10 connections that the socket module listened with before and its own. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdlib.h>
#include <sys/socket.h>

int listen(int fd, int backlog) {
    static int (*next)(int, int);
    if (!next) *(void**)&next = dlsym(RTLD_NEXT, "listen");
    const char* cap = getenv("CAPSULE_BENCH_BACKLOG");
    int n = cap ? atoi(cap) : 0;
    return next(fd, n > 0 && backlog > n ? n : backlog);
}
