// Start-up: the list of built-in parts, the bootstrap, and the instance's start and
// teardown around it. The top of core/: it may include every room below (core/engine/,
// core/lang/, core/xml/, modules/, platforms/platform.h); only the entry point
// (platforms/<os>/entry.cpp, main.cpp) and test hosts include it.
#ifndef CAPSULE_RUNTIME_STARTUP_H
#define CAPSULE_RUNTIME_STARTUP_H

#include "core/module_api.h"

struct HostOptions {
    const char* bootName;   // file name of the bootstrap evaluation
    const char* bootSource; // narrow source text
    // Optional: called with the main context inside its request, after the built-in
    // modules and before argv and envp (test hosts add their own natives here).
    void (*extraInit)(HostContext* cx, const ModuleApi* api);
};

// Creates the engine instance, defines argv (argv[0] should already be the executable's
// full path) and envp, evaluates the bootstrap, tears the instance down. Returns the exit
// status: the bootstrap's completion value when it is a number, 1 when an error escaped
// the bootstrap (the reporter has shown it), else 0.
int hostMain(int argc, char** argv, char** envp, const HostOptions& options);

// The built-in bootstrap text.
extern const char* const kBootstrapName;
extern const char* const kBootstrapSource;

#endif
