// The list of built-in parts, as a Lua interpreter lists its standard libraries: each is
// installed like a module library, through the table.
#include "core/runtime/builtins.h"

#include "core/lang/lang.h"
#include "modules/file/file_module.h"
#include "modules/system/system_module.h"

const engine::HostInstaller kBuiltins[] = {
    {"language", engine::installLanguage},
    {"System", systemModuleInit},
    {"File", fileModuleInit},
    {nullptr, nullptr},
};
