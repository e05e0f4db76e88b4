// provides: __lang.gen __lang.iter
// natives: kGeneratorNatives
// Generator objects for the translator's state machines (core/translator/write_gen.cpp).
// A generator function returns __lang.gen(step, table, registers). step is the generator's
// next(): called on the generator, it runs the body from state this.s (marking it -2,
// running, meanwhile) until a yield (it stores the next state and returns the value) or the
// end (it throws StopIteration); its argument is the value sent in. `registers` holds the
// body's variables between steps. `table` lists the try zones of the body, four numbers
// each: the enclosing zone, the catch block's state, the zone of the catch block and the
// finally block's state (-1 for none); this.t is the zone the body is in, this.p[finally
// state] what that finally block has pending (a throw, a jump or a return). this.v is the
// value send() hands to the step (next() sends nothing, whatever its arguments).
function Generator(step, table, registers) {
    this.s = 0; // 0 newborn, -1 done, -2 running
    this.next = step;
    this.l = registers;
    this.t = -1;
    this.T = table;
    this.p = table ? [] : null;
    this.e = undefined; // the exception a catch block receives
    this.v = undefined;
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

// A step that an exception left (the body's exceptions pass through, for speed) leaves
// the generator marked running: it is done unless its step is still on the call stack,
// this thread's or another script thread's (which waits in a native meanwhile).
function settle(g, from) {
    if (g.s !== -2) return;
    for (var level = from || -2;; level--) {
        var a = Duktape.act(level);
        if (!a) break;
        if (a.function === g.next) return;
    }
    if (native.runningElsewhere(g.next)) return;
    g.s = -1;
}

// What a step of a generator that cannot run throws.
method("stop", function () {
    settle(this, -5); // above act, settle, stop and the step that asks
    if (this.s === -2) {
        var e = typeError("already executing generator", 2); // stop, and the step
        return e;
    }
    return StopIteration;
});

method("send", function (v) {
    settle(this);
    if (this.s === 0 && v !== undefined)
        throw typeError("attempt to send " + (typeof v === "string" ? JSON.stringify(v) : String(v)) +
                        " to newborn generator", 1);
    this.v = v;
    return this.next();
});

method("throw", function (e) {
    settle(this);
    if (this.s === -2) throw this.stop();
    if (this.s <= 0) {
        this.s = -1;
        throw e;
    }
    this.s = -1;
    this.s = this.fail(e); // to the catch or finally block around the yield, or out
    return this.next();
});

// Runs the finally blocks around the yield the generator waits at; a yield in one of them
// is a TypeError.
method("close", function () {
    settle(this);
    if (this.s === -2) throw this.stop();
    if (this.s <= 0) {
        this.s = -1;
        return;
    }
    var state = this.jump(-1, -1);
    if (state < 0) {
        this.s = -1;
        return;
    }
    this.s = state;
    try {
        this.next();
    } catch (e) {
        this.s = -1;
        if (e === StopIteration) return;
        throw e;
    }
    this.s = -1;
    throw typeError("yield from closing generator", 1);
});

method("__iterator__", function () {
    return this;
});

// Its state is no source: uneval and toSource give an empty object, as the language does.
method("toSource", function () {
    return "({})";
});

// Object.prototype.toString (which String(generator) uses too) names the class.
Object.defineProperty(Generator.prototype, Symbol.toStringTag, {value: "Generator",
                                                               configurable: true});

// An exception in zone this.t: the state of the catch block of the innermost zone that has
// one, or of a finally block with the exception pending; or out of the generator.
method("fail", function (e) {
    var T = this.T;
    for (var z = this.t; z >= 0; z = T[z * 4]) {
        var i = z * 4;
        if (T[i + 1] >= 0) {
            this.t = T[i + 2];
            this.e = e;
            return T[i + 1];
        }
        if (T[i + 3] >= 0) {
            this.t = T[i];
            this.p[T[i + 3]] = {t: 1, v: e};
            return T[i + 3];
        }
    }
    throw e;
});

// A jump to state s of zone tz (a return: -1, -1) through the finally blocks on the way:
// the state to go to.
method("jump", function (s, tz) {
    var T = this.T;
    if (T) {
        for (var z = this.t; z !== tz && z >= 0; z = T[z * 4]) {
            var i = z * 4;
            if (T[i + 3] >= 0) {
                this.t = T[i];
                this.p[T[i + 3]] = {t: 2, s: s, z: tz};
                return T[i + 3];
            }
        }
    }
    this.t = tz;
    return s;
});

// The end of finally block `fin`: on with what it interrupted, or to state `next`.
method("done", function (fin, next) {
    var c = this.p[fin];
    if (!c) return next;
    this.p[fin] = null;
    if (c.t === 1) throw c.v;
    return this.jump(c.s, c.z);
});

__lang.gen = function (step, table, registers) {
    return new Generator(step, table, registers);
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
