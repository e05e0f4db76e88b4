// provides: __lang.accessor __lang.importAll
// The older accessor forms: the translator writes `o.x getter = fn` as
// __lang.accessor(o, "x", 1, fn) (2 for a setter), and `getter function x() {}` at the top
// of a script as the same on the global object. The other half of an accessor already
// there is kept; the value is the function.
var define = Object.defineProperty, describe = Object.getOwnPropertyDescriptor;
__lang.accessor = function (target, key, kind, fn) {
    var word = kind == 1 ? "getter" : "setter";
    if (typeof fn != "function") throw new TypeError("invalid " + word + " usage");
    if (target === null || target === undefined) throw new TypeError(target + " has no properties");
    var old = describe(target, key), desc = {enumerable: true, configurable: true};
    if (old && !("value" in old)) {
        desc.get = old.get;
        desc.set = old.set;
    }
    desc[kind == 1 ? "get" : "set"] = fn;
    define(target, key, desc);
    return fn;
};
// `import o.*` at the top of a script: o's own enumerable properties become globals.
__lang.importAll = function (target, from) {
    if (from === null || from === undefined) throw new TypeError(from + " has no properties");
    for (var k in from)
        if (Object.prototype.hasOwnProperty.call(from, k)) target[k] = from[k];
};
