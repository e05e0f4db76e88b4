// The native module libraries travel in the package under bin/: System.loadModule finds
// them beside the executable, or takes them from the package itself.

var Modules = {};

// Loads the library that defines the global name unless it is defined already.
Modules.require = function (className, name) {
    if (typeof global[className] !== "undefined") return;
    var path = "bin/" + name + (System.getSysName("Windows") ? ".dll" : ".so");
    if (!System.loadModule(path) || typeof global[className] === "undefined")
        throw new Error("cannot load the module " + path);
};
