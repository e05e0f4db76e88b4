// The Windows command-line splitter on any line: no crash, and arguments quoted by the
// usual rules split back to themselves.
#include "platforms/platform.h"

#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <vector>

// Quotes one argument so that the splitter gives it back: backslashes are literal except
// before a quote, where each pair gives one and a lone one escapes the quote.
static std::string quote(const std::string& arg) {
    std::string out = "\"";
    size_t slashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            slashes++;
            continue;
        }
        out.append(c == '"' ? 2 * slashes + 1 : slashes, '\\');
        slashes = 0;
        out.push_back(c);
    }
    out.append(2 * slashes, '\\');
    return out + "\"";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string line(reinterpret_cast<const char*>(data), size);
    platform::splitCommandLine(line);
    std::vector<std::string> args = platform::splitArguments(line);
    std::string joined;
    for (const std::string& a : args)
        joined += (joined.empty() ? "" : " ") + quote(a);
    if (platform::splitArguments(joined) != args) {
        fprintf(stderr, "quoted arguments split differently: %s\n", joined.c_str());
        abort();
    }
    return 0;
}
