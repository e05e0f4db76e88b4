// The native module libraries travel in the package under bin/. The runtime loads a
// library from disk, so they are unpacked into the monitor's data folder first (again
// only when the package holds another build of them).

var Modules = {dir: "bin"};

Modules.path = function (name) {
    return Modules.dir + "/" + name + ".so";
};

// Unpacks the package's bin/ libraries into <dataDir>/bin and loads them from there.
Modules.unpack = function (dataDir) {
    var fsd = System.package && System.package.afs && System.package.afs.fsd;
    if (!fsd || !fsd.hasOwnProperty(Modules.path("msqlite"))) return; // run from disk
    var target = dataDir + "/bin";
    Util.makeDirs(target);
    for (var name in fsd) {
        if (name.indexOf("bin/") !== 0) continue;
        var file = target + "/" + Util.baseName(name), st = File.status(file);
        if (!st || st.size !== fsd[name].size || st.time !== fsd[name].time) {
            // A new file rather than a rewrite: another process may have the old one mapped.
            File.remove(file);
            if (!Util.writeFile(file, System.package.extract(name)))
                throw new Error("cannot unpack " + name + " to " + file);
            File.setTime(file, fsd[name].time);
        }
    }
    Modules.dir = target;
};

// Loads the library that defines the global name unless it is defined already.
Modules.require = function (className, name) {
    if (typeof global[className] !== "undefined") return;
    if (!System.loadModule(Modules.path(name)) || typeof global[className] === "undefined")
        throw new Error("cannot load the module " + Modules.path(name));
};
