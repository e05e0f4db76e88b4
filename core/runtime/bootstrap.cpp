// The built-in bootstrap script: `global`, `load`, `include`, and the start of the
// application's entry script from the package behind the executable (or from disk).
// It is one line, so every location inside it is line 1 of "startupScript".
#include "core/runtime/startup.h"

const char* const kBootstrapName = "startupScript";
const char* const kBootstrapSource =
    "var global = this;"
    // load(fileName, mode): a file record {content, time} from the package or the disk.
    "function load(fileName, mode) {"
    " var rec = {}, pkg, fsd, f;"
    " if (!mode) mode = 'DISK';"
    " if (!System.package) { System.package = new File(argv[0], 'rb'); System.package.initAFS(); }"
    " pkg = System.package;"
    " if (mode == 'AFS' || !File.status(fileName)) {"
    "  fsd = pkg.afs && pkg.afs.fsd;"
    "  if (fsd && Object.prototype.hasOwnProperty.call(fsd, fileName)) {"
    "   rec.content = pkg.extract(fileName); rec.time = fsd[fileName].time; } }"
    " if (!rec.content) {"
    "  f = new File(fileName, 'rb'); rec.content = f.read(); rec.time = f.time; f.close(); }"
    " if (rec.content === undefined || rec.content === null)"
    "  throw new Error(\"Unable to load '\" + fileName + \"'\");"
    " if (rec.content === '') throw new Error(\"Empty file '\" + fileName + \"'\");"
    " return rec; }"
    // include(fileName, mode): evaluates a script once; the name is marked before loading.
    "function include(fileName, mode) {"
    " if (Object.prototype.hasOwnProperty.call(include.list, fileName) && include.list[fileName])"
    "  return;"
    " include.list[fileName] = true;"
    " System.evaluate(fileName, load(fileName, mode).content); }"
    "include.list = {};"
    // The completion value is the exit status: undefined (0) when the application returned,
    // 1 after an error it did not catch. A value that has no source form (no prototype, a
    // getter that throws) goes on to the error reporter, which prints it as it can.
    "try { include('scripts/autorun.js', 'AFS'); } catch (e) {"
    " System.openConsole();"
    " try { System.print(e === null || e === undefined ? uneval(e) : e.toSource()); }"
    " catch (x) { throw e; }"
    " if (System.getSysName('Windows')) System.getchar();"
    " 1; }";
