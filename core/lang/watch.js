// provides: Object.prototype.watch Object.prototype.unwatch
// o.watch(name, handler): each assignment to o's property `name` calls
// handler.call(o, name, old value, new value) and stores what the handler returns;
// o.unwatch(name) makes it a plain data property again, holding its current value. A
// property that does not exist yet is made (undefined, enumerable), so that its first
// assignment is seen too. Meanwhile the property is an accessor pair in the place of the
// data property (or around the accessor pair) it was, with its enumerability, so that
// for-in, uneval and JSON see what they saw. A property that cannot be redefined (an
// array's length, a declared global, one of a sealed object) cannot be watched: TypeError.
function hide(o, name, value) {
    Object.defineProperty(o, name, {value: value, writable: true, configurable: true});
}
function named(name, fn) {
    Object.defineProperty(fn, "name", {value: name, configurable: true});
    return fn;
}

// The watch record of a getter that this unit made, under a key of its own.
var kRecord = Symbol("watch");

// A TypeError that names the line of the script that called watch or unwatch: the first
// activation outside this unit.
function typeError(message) {
    var e = new TypeError(message);
    for (var level = -2;; level--) {
        var a = Duktape.act(level);
        if (!a) break;
        var file = a.function && a.function.fileName;
        if (!file || file === "lang/watch.js") continue;
        Object.defineProperty(e, "lineNumber", {value: a.lineNumber, writable: true,
                                               configurable: true});
        Object.defineProperty(e, "fileName", {value: file, writable: true, configurable: true});
        break;
    }
    return e;
}

function key(name) {
    return typeof name === "symbol" ? name : String(name);
}

// The record of the watch on o's own property k, or null.
function watched(o, k) {
    var d = Object.getOwnPropertyDescriptor(o, k);
    var r = d && d.get && d.get[kRecord];
    return r && r.o === o ? r : null;
}

// The descriptor of k on o or the nearest prototype that has it, or undefined.
function lookup(o, k) {
    for (var p = o; p !== null; p = Object.getPrototypeOf(p)) {
        var d = Object.getOwnPropertyDescriptor(p, k);
        if (d) return d;
    }
    return undefined;
}

// The descriptor d as the property was before a watch wrapped it (a watched prototype's).
function unwrapped(d) {
    var r = d && d.get && d.get[kRecord];
    if (!r) return d;
    return r.accessor ? {get: r.get, set: r.set} : {value: r.value, writable: r.writable};
}

// The value the property has for `self` (o, or an object that inherits from o).
function current(r, self) {
    if (!r.accessor) return r.value;
    return r.get ? r.get.call(self) : undefined;
}

// Stores v as an assignment to the property would have, without the watch.
function store(r, self, v) {
    if (!r.accessor) {
        if (r.writable) r.value = v;
    } else if (r.set) {
        r.set.call(self, v);
    }
}

function makeAccessors(r) {
    var get = function () {
        return current(r, this);
    };
    var set = function (v) {
        if (this !== r.o) {
            // An assignment through an object that inherits the property: what a plain
            // property would do there, without the watch (which is o's).
            if (!r.accessor && r.writable)
                Object.defineProperty(this, r.k, {value: v, writable: true, enumerable: true,
                                                  configurable: true});
            else
                store(r, this, v);
            return;
        }
        // The handler's own assignments to the property store their value: no endless
        // recursion; what it returns is stored last.
        if (r.running || (!r.accessor && !r.writable)) {
            store(r, this, v);
            return;
        }
        r.running = true;
        try {
            v = r.handler.call(this, r.k, current(r, this), v);
        } finally {
            r.running = false;
        }
        if (r.active)
            store(r, this, v);
        else
            this[r.k] = v; // the handler unwatched it: a plain assignment now
    };
    Object.defineProperty(get, kRecord, {value: r});
    return {get: get, set: set};
}

function watch(name, handler) {
    var o = Object(this), k = key(name); // a bare watch(...) watches the global object
    if (typeof handler !== "function")
        throw typeError("watch: the handler of " + String(k) + " is not a function");
    var r = watched(o, k);
    if (r) {
        r.handler = handler;
        return;
    }
    var own = Object.getOwnPropertyDescriptor(o, k);
    if (own && !own.configurable)
        throw typeError("can't watch non-configurable property " + String(k));
    if (!own && !Object.isExtensible(o))
        throw typeError("can't watch property " + String(k) + " of a non-extensible object");
    var d = unwrapped(own || lookup(o, k));
    r = {o: o, k: k, handler: handler, running: false, active: true,
         accessor: !!d && !("value" in d), writable: !d || d.writable !== false,
         value: d ? d.value : undefined, get: d && d.get, set: d && d.set};
    var a = makeAccessors(r);
    Object.defineProperty(o, k, {get: a.get, set: a.set, enumerable: own ? own.enumerable : true,
                                 configurable: true});
}

function unwatch(name) {
    var o = Object(this), k = key(name);
    var r = watched(o, k);
    if (!r) return;
    r.active = false;
    var enumerable = Object.getOwnPropertyDescriptor(o, k).enumerable;
    if (r.accessor)
        Object.defineProperty(o, k, {get: r.get, set: r.set, enumerable: enumerable,
                                     configurable: true});
    else
        Object.defineProperty(o, k, {value: r.value, writable: r.writable,
                                     enumerable: enumerable, configurable: true});
}

hide(Object.prototype, "watch", named("watch", watch));
hide(Object.prototype, "unwatch", named("unwatch", unwatch));
