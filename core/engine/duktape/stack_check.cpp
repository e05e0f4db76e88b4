// The engine's native stack check (DUK_USE_NATIVE_STACK_CHECK in the build's duk_config.h):
// native recursion is bounded by the C stack that the calling thread has left, not by a
// count. Built into the engine's library, beside the compilation unit that calls it.
#include "platforms/platform.h"

#include <stddef.h>
#include <stdint.h>

namespace {

// What a call needs below the check that let it in: the deepest path between two checks
// (a native, its slots, a compilation) plus the raising of the RangeError. Sanitizer
// builds have frames several times larger.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr size_t kStackReserve = 1024 * 1024;
#else
constexpr size_t kStackReserve = 256 * 1024;
#endif

// The lowest frame address at which the calling thread may still make a call; 1 when its
// stack is unknown (no limit then).
uintptr_t stackFloor() {
    platform::StackBounds b = platform::stackBounds();
    if (!b.low) return 1;
    size_t reserve = kStackReserve < b.size / 4 ? kStackReserve : b.size / 4;
    return b.low + reserve;
}

} // namespace

// The engine calls this at every call, and in its other recursions (JSON, regular
// expressions, number conversion); non-zero makes it raise RangeError "C stack depth
// limit". Deep recursion through natives (an evaluation that evaluates itself, a toString
// that calls a native on its own object) so ends in a catchable error on every thread and
// in every build, however large the frames. A plain thread-local word keeps it to a load
// and a compare.
extern "C" int capsuleStackLow(void) {
    static thread_local uintptr_t floor __attribute__((tls_model("initial-exec"))) = 0;
    if (__builtin_expect(floor == 0, 0)) floor = stackFloor();
    return reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) < floor;
}
