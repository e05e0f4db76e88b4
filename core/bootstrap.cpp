// The built-in bootstrap script.
#include "core/startup.h"

const char* const kBootstrapName = "startupScript";
const char* const kBootstrapSource = "System.print(System.getSysName());\n";
