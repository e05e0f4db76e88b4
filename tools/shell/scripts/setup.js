// What the shell sets up before a script or an application runs: the working folder, the
// package that load and include consult, the modules' folder and argv. Evaluates to an
// object of these functions.
(function () {
    // The folder the command was started in, which the shell passes on as $PWD.
    function started() {
        return envp.PWD || File.getCurrentWorkingDir();
    }

    // A path the user typed, against the folder the command was started in ($PWD): the
    // runtime itself starts in its own folder. A trailing separator names the folder.
    function absolute(path) {
        if (/[^\/]\/+$/.test(path)) path = path.replace(/\/+$/, "");
        if (path.charAt(0) == "/") return path;
        return started() + "/" + path;
    }

    // The files below root as a package's directory ({name: {size, csize, time, module}}),
    // in name order, .git/ folders left out as the packer leaves them out.
    function directory(root) {
        var fsd = {}, pending = [""];
        while (pending.length) {
            var rel = pending.shift(), entries = File.openDir((rel ? root + "/" + rel : root) + "/*.*");
            entries.sort(function (a, b) { return a.name < b.name ? -1 : a.name > b.name ? 1 : 0; });
            for (var i = 0; i < entries.length; i++) {
                var e = entries[i], name = rel ? rel + "/" + e.name : e.name;
                if (e.name == "." || e.name == ".." || e.name == ".git") continue;
                if (e.type == "dir") {
                    pending.push(name);
                    continue;
                }
                var st = File.status(root + "/" + name) || { size: 0, time: 0 }, slash = name.indexOf("/");
                fsd[name] = { size: st.size, csize: st.size, time: st.time,
                              module: slash < 0 ? "" : name.substring(0, slash) };
            }
        }
        return fsd;
    }

    // A folder in the place of the package behind the executable: scripts see its files in
    // System.package.afs.fsd and extract them as they would extract packed ones.
    function folderPackage(root) {
        var fsd = root ? directory(root) : {};
        return {
            path: root, afs: { fsd: fsd },
            extract: function (name) {
                if (!Object.prototype.hasOwnProperty.call(fsd, name)) return undefined;
                var f = new File(root + "/" + name, "rb"), content = f.read();
                f.close();
                return content;
            }
        };
    }

    // argv as the runtime defines it: the property hidden from for-in, each element read-only.
    function defineArgv(list) {
        var a = [];
        for (var i = 0; i < list.length; i++)
            Object.defineProperty(a, i, { value: list[i], enumerable: true, configurable: true });
        Object.defineProperty(global, "argv", { value: a, writable: true, configurable: true });
    }

    // A relative module path that names a file of root is loaded from there; any other path
    // as the runtime finds it (beside capsule-shell first, where the build's bin/ is).
    function modulesFrom(root) {
        var loadModule = System.loadModule;
        System.loadModule = function (path) {
            var own = arguments.length ? String(path) : "";
            var st = own && !/^([\/\\]|[A-Za-z]:)/.test(own) && File.status(root + "/" + own);
            if (st && st.type != "dir") return loadModule.call(System, root + "/" + own);
            return loadModule.apply(System, arguments);
        };
    }

    function enter(folder, packageRoot, args) {
        if (!File.changeDir(folder)) throw new Error("cannot change to " + folder);
        System.package = folderPackage(packageRoot);
        include.list = {};
        defineArgv(args);
    }

    // The functions that the era's engine shell offered scripts: print(a, b, ...) writes its
    // arguments with a space between them, quit([code]) ends the process.
    function shellGlobals() {
        global.print = function () {
            System.print(Array.prototype.join.call(arguments, " "));
        };
        global.quit = function (code) {
            System.exit(code);
        };
    }

    // <dir> as its packed form runs: in its folder, its files as the package, its bin/ for
    // modules, argv[0] the folder (where the executable would be), then its entry script.
    function runFolder(dir, args) {
        if (!File.status(dir + "/scripts/autorun.js")) {
            System.print("capsule-shell: " + dir + " has no entry script scripts/autorun.js");
            System.exit(2);
        }
        enter(dir, dir, [dir].concat(args));
        modulesFrom(dir);
        include("scripts/autorun.js", "AFS");
    }

    // One script, in the folder the command was started in, with no package: argv[0] is
    // the script's full path.
    function runFile(file, args) {
        var path = absolute(file);
        enter(started(), "", [path].concat(args));
        shellGlobals();
        System.evaluate(file, load(path).content);
    }

    return { started: started, absolute: absolute, enter: enter, shellGlobals: shellGlobals, runFolder: runFolder,
             runFile: runFile };
})();
