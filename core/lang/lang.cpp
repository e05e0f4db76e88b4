// The language library's installer (lang.h), first on start-up's list.
#include "core/lang/lang.h"

#include "core/lang/units.h"

namespace engine {

void installLanguage(HostContext* cx, const ModuleApi*) {
    duk_context* ctx = duk(cx);
    installUneval(ctx);
    installErrorArguments(ctx);
    installLanguageLibrary(ctx);
}

} // namespace engine
