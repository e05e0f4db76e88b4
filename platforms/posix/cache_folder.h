// The descriptor of a private cache folder (user_folders.cpp), for the cache files.
#ifndef CAPSULE_POSIX_CACHE_FOLDER_H
#define CAPSULE_POSIX_CACHE_FOLDER_H

namespace platform {

// "<base>/capsule/<folder>" open for the process once every level passed; -1 when none.
int cacheFolder(const char* folder);

} // namespace platform

#endif
