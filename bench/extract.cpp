// Extract throughput: File.prototype.extract over every entry of a package, against
// reading and inflating the same streams with zlib directly, in one process.
//   build/bench/bench_extract <package>
#include "core/engine/engine.h"
#include "core/runtime/builtins.h"
#include "core/module_api.h"

#include <chrono>
#include <stdio.h>
#include <string>
#include <vector>
#include <zlib.h>

using Clock = std::chrono::steady_clock;

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: bench_extract <package>\n");
        return 2;
    }
    engine::createInstance(kBuiltins);
    const ModuleApi* api = engine::api();
    HostContext* cx = engine::mainContext();
    api->beginRequest(cx);
    std::string open = std::string("var pkg = new File('") + argv[1] +
                       "', 'rb'); pkg.initAFS(); var names = Object.keys(pkg.afs.fsd);"
                       "var list = names.map(function (n) { var e = pkg.afs.fsd[n];"
                       " return e.pos + ' ' + e.csize + ' ' + e.size; }).join('\\n'); list";
    HostValue list;
    if (!api->evaluateScript(cx, "bench", open.c_str(), &list)) return 1;
    std::vector<long> entries;
    for (const char* p = api->toBytes(cx, list); *p;) {
        char* next;
        entries.push_back(strtol(p, &next, 10));
        p = next;
    }
    const int rounds = 5;
    HostValue r;
    auto t0 = Clock::now();
    for (int i = 0; i < rounds; i++)
        api->evaluateScript(cx, "bench",
                            "var total = 0; for (var i = 0; i < names.length; i++)"
                            " { var s = pkg.extract(names[i]); total += s ? s.length : 0; } total",
                            &r);
    double viaExtract = std::chrono::duration<double>(Clock::now() - t0).count() / rounds;
    double bytes = api->toNumber(cx, r);

    FILE* f = fopen(argv[1], "rb");
    std::string in, out;
    auto t1 = Clock::now();
    for (int i = 0; i < rounds; i++) {
        for (size_t k = 0; k + 2 < entries.size(); k += 3) {
            in.resize(entries[k + 1]);
            out.resize(entries[k + 2]);
            fseek(f, entries[k], SEEK_SET);
            if (fread(&in[0], 1, in.size(), f) != in.size()) return 1;
            uLongf n = out.size();
            uncompress(reinterpret_cast<Bytef*>(&out[0]), &n,
                       reinterpret_cast<const Bytef*>(in.data()), in.size());
        }
    }
    double direct = std::chrono::duration<double>(Clock::now() - t1).count() / rounds;
    fclose(f);
    printf("%zu files, %.1f MB uncompressed\n", entries.size() / 3, bytes / 1e6);
    printf("File.extract     %7.1f ms  %7.1f MB/s\n", viaExtract * 1e3, bytes / viaExtract / 1e6);
    printf("zlib directly    %7.1f ms  %7.1f MB/s\n", direct * 1e3, bytes / direct / 1e6);
    printf("extract reaches %.0f %% of zlib's throughput\n", 100 * direct / viaExtract);
    api->endRequest(cx);
    return 0;
}
