// provides: __lang.gen __lang.iter
// Generator objects for the translator's state machines (core/translator/write_gen.cpp).
// A generator function returns __lang.gen(f, table): f(g) runs the body from state g.s
// until a yield (it sets the next state and returns the value) or the end (g.s = -1); g.v
// is the value sent in. `table` lists the try zones of the body, four numbers each: the
// enclosing zone, the catch block's state, the zone of the catch block and the finally
// block's state (-1 for none); g.t is the zone the body is in, and g.p[finally state] what
// that finally block has pending (a throw, a jump or a return).
function Generator(f, table) {
    this.f = f;
    this.s = 0;         // 0 newborn, -1 done
    this.v = undefined; // the value of the yield being resumed
    this.r = false;     // running
    this.t = -1;
    this.T = table;
    this.p = table ? [] : null;
    this.e = undefined; // the exception a catch block receives
    this.c = false;     // closing
}

function method(name, fn) {
    Object.defineProperty(Generator.prototype, name,
                          {value: fn, writable: true, configurable: true});
}

// A TypeError blamed on the script line that called the generator's method, `depth` calls
// of this unit up (as the engine's own errors name the calling line, not this unit's).
function typeError(message, depth) {
    var e = new TypeError(message);
    var caller = Duktape.act(-3 - depth); // -1 is act, -2 this function
    if (caller && caller.function) {
        Object.defineProperty(e, "lineNumber", {value: caller.lineNumber, writable: true,
                                               configurable: true});
        Object.defineProperty(e, "fileName", {value: caller.function.fileName, writable: true,
                                             configurable: true});
    }
    return e;
}

function running() {
    var e = typeError("already executing generator", 2); // no tail call: one level more
    return e;
}

// The body runs from the current state: the value it yields, or StopIteration at its end.
function run(g) {
    g.r = true;
    try {
        var x = g.f(g);
    } catch (e) {
        g.s = -1;
        g.r = false;
        throw e;
    }
    g.r = false;
    if (g.s < 0) throw StopIteration;
    if (g.c) {
        g.s = -1;
        throw typeError("yield from closing generator", 2);
    }
    return x;
}

method("next", function () {
    if (this.r) throw running();
    if (this.s < 0) throw StopIteration;
    this.v = undefined;
    // run(this), written out: this is the path of every step of a loop.
    this.r = true;
    try {
        var x = this.f(this);
    } catch (e) {
        this.s = -1;
        this.r = false;
        throw e;
    }
    this.r = false;
    if (this.s < 0) throw StopIteration;
    return x;
});

method("send", function (v) {
    if (this.r) throw running();
    if (this.s === 0 && v !== undefined)
        throw typeError("attempt to send " + (typeof v === "string" ? JSON.stringify(v) : String(v)) +
                        " to newborn generator", 1);
    if (this.s < 0) throw StopIteration;
    this.v = v;
    return run(this);
});

method("throw", function (e) {
    if (this.r) throw running();
    if (this.s <= 0) {
        this.s = -1;
        throw e;
    }
    this.r = true;
    try {
        this.fail(e); // to the catch or finally block around the yield, or out
    } catch (x) {
        this.r = false;
        throw x;
    }
    return run(this);
});

// Runs the finally blocks around the yield the generator waits at; a yield in one of them
// is a TypeError.
method("close", function () {
    if (this.r) throw running();
    if (this.s <= 0) {
        this.s = -1;
        return;
    }
    this.jump(-1, -1);
    if (this.s < 0) return;
    this.c = true;
    try {
        run(this);
    } catch (e) {
        this.c = false;
        if (e !== StopIteration) throw e;
    }
    this.c = false;
});

method("__iterator__", function () {
    return this;
});

method("toString", function () {
    return "[object Generator]";
});

// An exception in zone this.t: to the catch block of the innermost zone that has one, or
// to a finally block with the exception pending, or out of the generator.
method("fail", function (e) {
    var T = this.T;
    for (var z = this.t; z >= 0; z = T[z * 4]) {
        var i = z * 4;
        if (T[i + 1] >= 0) {
            this.t = T[i + 2];
            this.e = e;
            this.s = T[i + 1];
            return;
        }
        if (T[i + 3] >= 0) {
            this.t = T[i];
            this.p[T[i + 3]] = {t: 1, v: e};
            this.s = T[i + 3];
            return;
        }
    }
    this.s = -1;
    throw e;
});

// A jump to state s of zone tz (a return: -1, -1) through the finally blocks on the way.
method("jump", function (s, tz) {
    var T = this.T;
    if (T) {
        for (var z = this.t; z !== tz && z >= 0; z = T[z * 4]) {
            var i = z * 4;
            if (T[i + 3] >= 0) {
                this.t = T[i];
                this.p[T[i + 3]] = {t: 2, s: s, z: tz};
                this.s = T[i + 3];
                return;
            }
        }
    }
    this.t = tz;
    this.s = s;
});

// The end of finally block `fin`: on with what it interrupted.
method("done", function (fin) {
    var c = this.p[fin];
    if (!c) return;
    this.p[fin] = null;
    if (c.t === 1) throw c.v;
    this.jump(c.s, c.z);
});

__lang.gen = function (f, table) {
    return new Generator(f, table);
};

// A for-in or for-each loop inside a generator, which cannot stay inside the engine's own
// for-in across a yield: mode 0 the keys, 1 the values, 2 [key, value] pairs (an object
// with an __iterator__ gives what its iterator gives). step() moves to the next (in .v).
function Walk(obj, mode) {
    this.v = undefined;
    this.m = mode;
    this.it = null;
    this.k = [];
    this.i = 0;
    this.o = null;
    if (obj === null || obj === undefined) return;
    var o = Object(obj);
    if (typeof o.__iterator__ === "function") {
        this.it = o.__iterator__(mode === 0);
        return;
    }
    for (var k in o)
        this.k.push(k);
    this.o = o;
}

Walk.prototype.step = function () {
    if (this.it) {
        try {
            this.v = this.it.next();
        } catch (e) {
            if (e === StopIteration) return false;
            throw e;
        }
        return true;
    }
    while (this.i < this.k.length) {
        var k = this.k[this.i++];
        if (!(k in this.o)) continue; // deleted before it was reached
        this.v = this.m === 0 ? k : this.m === 1 ? this.o[k] : [k, this.o[k]];
        return true;
    }
    return false;
};

__lang.iter = function (obj, mode) {
    return new Walk(obj, mode);
};
