// The list of the parts built into the executable (see startup.h for the room's rule).
#ifndef CAPSULE_RUNTIME_BUILTINS_H
#define CAPSULE_RUNTIME_BUILTINS_H

#include "core/engine/engine.h"

// The parts built into the executable, in the order that every instance installs them:
// the language library, then the System object and the File class. Ends with a null
// install.
extern const engine::HostInstaller kBuiltins[];

#endif
