// Small helpers the other scripts share: files, paths, command lines and text encodings.

var Util = {};

// The whole content of a file as a byte string, or undefined when it cannot be read.
Util.readFile = function (path) {
    var f = new File(path, "rb");
    var content = f.read();
    f.close();
    return content;
};

// Replaces a file with the given bytes; true when all of them were written.
Util.writeFile = function (path, content) {
    var f = new File();
    if (!f.open(path, "wb")) return false;
    var n = f.write(content);
    f.close();
    return n === content.length;
};

Util.exists = function (path) {
    return !!File.status(path);
};

// Makes a folder and its parents.
Util.makeDirs = function (path) {
    var parts = path.split("/"), dir = "";
    for (var i = 0; i < parts.length; i++) {
        dir += (i ? "/" : "") + parts[i];
        if (dir && !File.status(dir)) File.createDir(dir);
    }
    return Util.exists(path);
};

// The folder and base name of a path.
Util.dirName = function (path) {
    var i = path.lastIndexOf("/");
    return i > 0 ? path.substring(0, i) : i === 0 ? "/" : ".";
};
Util.baseName = function (path) {
    return path.substring(path.lastIndexOf("/") + 1);
};

// A path relative to the working directory (the executable's folder), or, for paths the
// user typed, to the folder the command was started in.
Util.absolute = function (path, typed) {
    var base = typed && envp.PWD ? envp.PWD : File.getCurrentWorkingDir();
    return path.charAt(0) === "/" ? path : base + "/" + path;
};

// One word of a command line by the C runtime's rules (System.exec splits them so).
Util.quoteArg = function (text) {
    return '"' + String(text).replace(/(\\*)"/g, '$1$1\\"').replace(/(\\+)$/, "$1$1") + '"';
};

// Text to its UTF-8 bytes (one character per byte) and back.
Util.toUtf8 = function (text) {
    return unescape(encodeURIComponent(text));
};
Util.fromUtf8 = function (bytes) {
    try {
        return decodeURIComponent(escape(bytes));
    } catch (e) {
        return bytes;
    }
};

// Process identifiers that a file names (a pid file), or 0.
Util.readPid = function (path) {
    var text = Util.readFile(path);
    var pid = text ? parseInt(text, 10) : 0;
    return pid > 0 ? pid : 0;
};

// True while the process runs (a process that has ended but was not yet reaped does not).
Util.processAlive = function (pid) {
    if (!(pid > 0)) return false;
    var f = new File("/proc/" + pid + "/stat", "rb");
    var stat = f.read(512);
    f.close();
    return !!stat && !/\) [ZX] /.test(stat);
};

// Asks a process to stop with the signal given (INT stands for Ctrl-C). One that has
// ended already (Ctrl-C reaches the whole process group) is left alone, so that `kill`
// does not complain on the console.
Util.signal = function (pid, name) {
    if (Util.processAlive(pid)) System.exec("kill -" + name + " " + pid, undefined, 1);
};

// Runs fn while holding the mutex.
Util.locked = function (mutex, fn) {
    System.lockMutex(mutex);
    try {
        return fn();
    } finally {
        System.unlockMutex(mutex);
    }
};

Util.log = function (text) {
    var d = new Date();
    function two(n) { return (n < 10 ? "0" : "") + n; }
    System.print(two(d.getHours()) + ":" + two(d.getMinutes()) + ":" + two(d.getSeconds()) +
                 " " + text);
};
