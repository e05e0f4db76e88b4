#!/usr/bin/env bash
# The drawing of the code base's includes, room by room, and the checks of its layout:
# no loop between rooms, Duktape's header only in the engine host (core/engine/), and
# operating-system headers only in the platform layer (platforms/) and the module
# libraries (libraries/), and the built-in modules reaching the engine through the table
# alone. (The language library's generated list of units also names natives of the E4X
# binding and of the engine's date code: links downward, as its includes do.) Prints the rooms in an order where each includes only rooms
# printed before it, each with what it includes; exits 1 with the reason when a check fails.
#   tools/layout.sh [tree]     (the repository by default; also run by the test suite)
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

# The room of a file: its folder, but for the few places where a folder holds two rooms.
room() {
    case "$1" in
    platforms/*/entry.cpp | platforms/*/main.cpp) echo "entry point" ;;
    platforms/*) echo platforms ;;
    core/engine/*) echo core/engine ;;
    core/*/*) dirname "$1" ;;
    core/heap_limit.h) echo "$1" ;;
    core/*) echo "core (the table's headers)" ;;
    libraries/*) echo "libraries/$(basename "$(dirname "$1")")" ;;
    *) dirname "$1" ;;
    esac
}

# The C and C++ standard library, and the libraries that the runtime is built on.
standard='^(assert|ctype|errno|float|inttypes|limits|locale|math|setjmp|signal|stdarg|stdbool|stddef|stdint|stdio|stdlib|string|time|wchar|wctype)\.h$|^[a-z_]+$|^(zlib|expat|duktape)\.h$'

edges=$(mktemp)
trap 'rm -f "$edges"' EXIT
fail=0
for f in $(git ls-files --cached --others --exclude-standard 'core/*' 'modules/*' 'platforms/*' 'libraries/*' | grep -E '\.(c|cpp|h)$'); do
    from=$(room "$f")
    while read -r kind name; do
        if [ "$kind" = system ]; then
            if [[ ! "$name" =~ $standard ]] && [[ "$f" != platforms/* && "$f" != libraries/* ]]; then
                echo "layout: $f includes the operating-system header <$name>"
                fail=1
            fi
            continue
        fi
        if [ "$name" = duktape.h ] || [ "$name" = duktape.cpp ]; then
            if [[ "$f" != core/engine/* ]]; then
                echo "layout: $f includes $name outside core/engine/"
                fail=1
            fi
            continue
        fi
        # Project paths from the root; a library's own headers and the table's headers
        # (its only include path) by their names.
        if [ -f "$name" ]; then
            target=$name
        elif [ -f "$(dirname "$f")/$name" ]; then
            target=$(dirname "$f")/$name
        elif [ -f "core/$name" ]; then
            target=core/$name
        else
            echo "layout: $f includes $name, which is not in the tree"
            fail=1
            continue
        fi
        to=$(room "$target")
        # The built-in modules reach the engine through the table alone, as a library does.
        if [[ "$f" == modules/* || "$f" == libraries/* ]] &&
            [[ "$to" == core/engine || "$to" == core/lang || "$to" == core/xml* || "$to" == core/runtime ]]; then
            echo "layout: $f includes $target: modules reach the engine through the table only"
            fail=1
        fi
        [ "$to" != "$from" ] && printf '%s\t%s\n' "$from" "$to" >>"$edges"
    done < <(sed -nE 's/^#include "([^"]+)".*/local \1/p; s/^#include <([^>]+)>.*/system \1/p' "$f")
done

# Kahn's order over the rooms: a room is printed once every room it includes has been.
sort -u "$edges" | awk -F'\t' -v fail="$fail" '
    { out[$1] = out[$1] ? out[$1] ", " $2 : $2; need[$1]++; room[$1]; room[$2]; by[$2] = by[$2] "|" $1 }
    END {
        n = 0
        for (r in room) if (!need[r]) ready[++n] = r
        done = 0
        while (n > 0) {
            # The smallest name first, so that the drawing is the same at every run.
            best = 1
            for (i = 2; i <= n; i++) if (ready[i] < ready[best]) best = i
            r = ready[best]; ready[best] = ready[n--]
            printf "%-28s -> %s\n", r, (out[r] ? out[r] : "(nothing of the project)")
            done++
            k = split(by[r], users, "|")
            for (i = 1; i <= k; i++) if (--need[users[i]] == 0) ready[++n] = users[i]
        }
        for (r in room) if (need[r] > 0) { print "layout: " r " is on a loop of includes"; fail = 1 }
        exit fail
    }'
