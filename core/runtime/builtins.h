// The modules built into the executable, initialised in this order at start-up with the
// table's address; they use the main context and its global object through the table.
#ifndef CAPSULE_BUILTIN_MODULES_H
#define CAPSULE_BUILTIN_MODULES_H

#include "core/module_api.h"

void systemModuleInit(const ModuleApi* api);
void fileModuleInit(const ModuleApi* api);

#endif
