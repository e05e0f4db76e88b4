// The table that the built-in modules call through: one for System and File alike, as a
// module library keeps one (module_helpers.h); each module's installer stores it.
#include "core/module_helpers.h"

HOST_API_DEFINE;
