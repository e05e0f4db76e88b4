/* A module library whose initModule writes through a null pointer: the Windows test step
   loads it from a packed script to see the fault guard write its log and exit with 1. */
#include "module_api.h"

HOST_MODULE_EXPORT void initModule(HostContext* cx, const ModuleApi* api) {
    (void)cx;
    (void)api;
    *(volatile int*)0 = 1;
}
