/* Loads OpenSSL 3 (libssl and the libcrypto it needs) on the first TLS use and fills the
 * table of the functions the module calls. */
#define SOCKET_OPENSSL_LOADER
#include "socket_openssl.h"

#include <dlfcn.h>
#include <pthread.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>

OpenSsl openssl;

static const struct {
    const char* name;
    size_t offset;
} entries[] = {
#define OPENSSL_ENTRY(name) {#name, offsetof(OpenSsl, name)},
    OPENSSL_FUNCTIONS(OPENSSL_ENTRY)
#undef OPENSSL_ENTRY
};

static pthread_once_t once = PTHREAD_ONCE_INIT;
static char failure[256]; /* empty once OpenSSL is ready */

/* libssl stays loaded for the rest of the process, as the module does. The generator
 * seeds itself from the operating system. */
static void load(void) {
    void* library = dlopen("libssl.so.3", RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        snprintf(failure, sizeof failure, "%s", dlerror());
        return;
    }
    for (size_t i = 0; i < sizeof entries / sizeof entries[0]; i++) {
        void* function = dlsym(library, entries[i].name);
        if (!function) {
            snprintf(failure, sizeof failure, "OpenSSL has no %s", entries[i].name);
            return;
        }
        /* POSIX lets a data pointer from dlsym hold a function's address. */
        memcpy((char*)&openssl + entries[i].offset, &function, sizeof function);
    }
    if (!openssl.OPENSSL_init_ssl(0, NULL))
        snprintf(failure, sizeof failure, "OpenSSL did not start");
}

/* Hands OpenSSL the pass phrase given as data; without one an encrypted key fails to load
 * (rather than asking on the terminal). */
int opensslPassPhrase(char* buffer, int size, int writing, void* data) {
    (void)writing;
    const char* password = (const char*)data;
    int n = password ? (int)strlen(password) : 0;
    if (n > size) n = size;
    if (n) memcpy(buffer, password, (size_t)n);
    return n;
}

int opensslStart(char* error, size_t size) {
    pthread_once(&once, load);
    if (failure[0] && error && size) snprintf(error, size, "%s", failure);
    return !failure[0];
}
