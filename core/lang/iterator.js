// provides: StopIteration Iterator
// natives: kIteratorNatives
// Iteration: StopIteration, which next() throws when nothing is left (an object, not a
// constructor: `e instanceof StopIteration` holds for it and for no other value), and
// Iterator(obj [, keysOnly]), whose next() gives obj's keys or [key, value] pairs in
// for-in order (core/lang/iterator.cpp).
function hide(o, name, value) {
    Object.defineProperty(o, name, {value: value, writable: true, configurable: true});
}
function named(name, fn) {
    Object.defineProperty(fn, "name", {value: name, configurable: true});
    return fn;
}
var stop = {};
Object.defineProperty(stop, Symbol.toStringTag, {value: "StopIteration", configurable: true});
Object.defineProperty(stop, Symbol.hasInstance, {
    value: function (v) { return v === stop; }, configurable: true
});
native.register(stop);

var Iterator = named("Iterator", native.Iterator);
var proto = {};
Object.defineProperty(Iterator, "prototype", {value: proto});
hide(proto, "constructor", Iterator);
Object.defineProperty(proto, Symbol.toStringTag, {value: "Iterator", configurable: true});
hide(proto, "next", named("next", native.next));
hide(proto, "__iterator__", named("__iterator__", native.__iterator__));

hide(this, "StopIteration", stop);
hide(this, "Iterator", Iterator);
