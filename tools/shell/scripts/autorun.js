// capsule-shell: tries a script or an application without packing it.
//   capsule-shell                    a prompt: each input runs in one global scope
//   capsule-shell <dir> [args...]    runs the application folder <dir> as it runs packed
//   capsule-shell <file.js> [args...] runs one script
// The shell's own parts are evaluated into a function's scope, so that what runs sees the
// globals a packed application sees and no name of the shell.
(function () {
    function part(name) {
        return System.evaluate(name, load(name, "AFS").content);
    }
    var setup = part("scripts/setup.js");
    var target = argv[1], rest = argv.slice(2), status = target === undefined ? null :
        File.status(setup.absolute(target));
    if (target === undefined) {
        part("scripts/prompt.js")(setup);
    } else if (status && status.type == "dir") {
        setup.runFolder(setup.absolute(target), rest);
    } else if (status) {
        setup.runFile(target, rest);
    } else {
        System.print("capsule-shell: no such file or folder: " + target);
        System.print("usage: capsule-shell [<dir> | <file.js>] [args...]");
        System.exit(2);
    }
})();
