// The translator's speed: a 1 MB source of JavaScript 1.7 (a sample of its constructs,
// repeated with names of their own) translated, against the engine's compilation of the
// translation; best of twenty runs each. A file given as argument replaces the sample.
//   build/bench/bench_translate [file.js]
#include "core/translator/translate.h"

#include "duktape.h"

#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>

namespace {

// Runs of each, the best counted: single runs on a shared machine swing by half.
constexpr int kRuns = 20;

const char* kSample = R"(function walk_N(list, limit) {
    let total = 0, seen = {};
    for each (let [key, value] in list) {
        if (value > limit) continue;
        let scaled = value * 2;
        seen[key] = function () scaled;
        total += scaled;
    }
    var [first, , third] = [total, 0, limit];
    const factor = 3;
    return [k + factor for (k in seen) if (k != first + third)];
}
function range_N(lo, hi) {
    for (let i = lo; i < hi; i++) {
        try {
            var sent = yield i;
            if (sent) [lo, hi] = [hi, lo];
        } catch (e if e instanceof TypeError) {
            yield "caught " + e.message;
        } finally {
            lo++;
        }
    }
}
var squares_N = (x * x for each (x in range_N(0, 10)));
let ({a: alpha, b: beta} = {a: 1, b: 2}) { print(alpha + beta); }
)";

double seconds(std::chrono::steady_clock::time_point a) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count();
}

// Processor time of the whole process (every thread), in seconds.
double processorTime() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

} // namespace

int main(int argc, char** argv) {
    std::string src;
    if (argc > 1) {
        std::ifstream f(argv[1], std::ios::binary);
        std::stringstream ss;
        ss << f.rdbuf();
        src = ss.str();
    } else {
        for (int n = 0; src.size() < 1024 * 1024; n++) {
            std::string s = kSample;
            for (size_t at; (at = s.find("_N")) != std::string::npos;)
                s.replace(at, 2, "_" + std::to_string(n));
            src += s;
        }
    }
    double translate = 1e9, compile = 1e9, processor = 0;
    translator::Translation t;
    for (int i = 0; i < kRuns; i++) {
        auto start = std::chrono::steady_clock::now();
        double cpu = processorTime();
        t = translator::translate(src.data(), src.size(), 0);
        double s = seconds(start);
        if (s < translate) translate = s, processor = processorTime() - cpu;
    }
    if (!t.changed) {
        fprintf(stderr, "the source needs no translation%s%s\n", t.failed ? ": " : "",
                t.message.c_str());
        return 1;
    }
    duk_context* ctx = duk_create_heap_default();
    for (int i = 0; i < kRuns; i++) {
        duk_set_top(ctx, 0);
        auto start = std::chrono::steady_clock::now();
        duk_push_string(ctx, "bench");
        if (duk_pcompile_lstring_filename(ctx, 0, t.text.data(), t.text.size()) != 0) {
            fprintf(stderr, "%s\n", duk_safe_to_string(ctx, -1));
            return 1;
        }
        double s = seconds(start);
        if (s < compile) compile = s;
    }
    duk_destroy_heap(ctx);
    printf("source %zu bytes, translation %zu bytes\n", src.size(), t.text.size());
    printf("translate %8.1f ms (%.1f ms of processor time: a large program is written on two "
           "threads)\ncompile   %8.1f ms (the engine, of the translation)\n"
           "ratio     %8.3f (translate / compile)\n",
           translate * 1000, processor * 1000, compile * 1000, translate / compile);
    return 0;
}
