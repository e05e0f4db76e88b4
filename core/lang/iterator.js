// provides: StopIteration
// The end of an iteration: a plain object that `next()` throws when nothing is left.
// `e instanceof StopIteration` holds for it as for no other value.
var stop = {};
Object.defineProperty(stop, "toString", {
    value: function () { return "[object StopIteration]"; }, writable: true, configurable: true
});
Object.defineProperty(this, "StopIteration", {value: stop, writable: true, configurable: true});
