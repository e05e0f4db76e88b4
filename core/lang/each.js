// provides: __lang.each
// natives: kEachNatives
// `for each (x in v)` is `for (x in __lang.each(v))`: the engine's for-in sees the marker
// this returns and gives the values of v (core/engine/duktape/forin.cpp).
__lang.each = native.each;
