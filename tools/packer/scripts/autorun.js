// capsule-pack: packs an application directory behind the bare runtime image (its own, or
// the one --runtime names, such as a Windows capsule.exe), lists a package, or unpacks one.
//   capsule-pack [--runtime <image>] [--exclude <glob>]... [--no-check <glob>]...
//                <application-dir> <output>
//   capsule-pack --list <file>
//   capsule-pack --unpack <file> <dir>
// Before packing it checks the application: the entry script scripts/autorun.js must be
// there, and every .js file must compile (--no-check names those that are not the
// runtime's, such as a web page's scripts). .git/ folders and what --exclude names stay
// out. Relative paths are taken from the directory the command was started in ($PWD),
// since the runtime itself works in its own folder.

function fail(message) {
    System.print("capsule-pack: " + message);
    System.exit(1);
}

function usage() {
    System.print("usage: capsule-pack [--runtime <image>] [--exclude <glob>]... [--no-check <glob>]...\n" +
                 "                    <application-dir> <output>\n" +
                 "       capsule-pack --list <file>\n" +
                 "       capsule-pack --unpack <file> <dir>");
    System.exit(2);
}

function absolute(path) {
    // A folder named with a trailing separator ("app/", as shells complete it) is that
    // folder: File.status takes such a path for no file at all.
    if (/[^\/]\/+$/.test(path)) path = path.replace(/\/+$/, "");
    if (path.charAt(0) == "/") return path;
    return (envp.PWD || File.getCurrentWorkingDir()) + "/" + path;
}

function join(dir, name) {
    return dir ? dir + "/" + name : name;
}

// A glob as a test of paths relative to the application folder: "*" and "?" stay within
// one name, "**" spans folders. A glob without "/" is tried on every name of the path (so
// "*.md" and ".git" match at any depth), one with "/" on the path from the top; either
// way a folder that matches is left out whole. A "/" at the end matches folders only.
function globTest(glob) {
    var folderOnly = /\/$/.test(glob), anywhere, body;
    glob = glob.replace(/\/+$/, "");
    anywhere = glob.indexOf("/") < 0;
    body = glob.replace(/\*\*|[*?]|[^*?]+/g, function (t) {
        return t == "**" ? ".*" : t == "*" ? "[^/]*" : t == "?" ? "[^/]" :
            t.replace(/[\\^$.|+()\[\]{}]/g, "\\$&");
    });
    var re = new RegExp(anywhere ? "(^|/)" + body + "$" : "^" + body + "$");
    return function (rel, isDir) { return (isDir || !folderOnly) && re.test(rel); };
}

function matchesAny(tests, rel, isDir) {
    for (var i = 0; i < tests.length; i++)
        if (tests[i](rel, isDir)) return true;
    return false;
}

// Every file below root that no exclusion names, as paths relative to it, in name order.
function walk(root, rel, out, excluded) {
    var entries = File.openDir(join(root, rel) + "/*.*");
    entries.sort(function (a, b) { return a.name < b.name ? -1 : a.name > b.name ? 1 : 0; });
    for (var i = 0; i < entries.length; i++) {
        var e = entries[i], path = join(rel, e.name);
        if (e.name == "." || e.name == ".." || matchesAny(excluded, path, e.type == "dir")) continue;
        if (e.type == "dir") walk(root, path, out, excluded);
        else out.push(path);
    }
    return out;
}

// The compiler's complaint about a script, "file:line message", or "" when it compiles.
// System.compile compiles the text as the runtime compiles a script it evaluates (the
// translator, then the engine's compiler) and runs nothing, so every error the runtime
// would report when compiling it comes back here, of whatever kind.
function compileError(rel, source) {
    try {
        System.compile(rel, source);
    } catch (e) {
        return rel + ":" + e.lineNumber + " " + e.message;
    }
    return "";
}

function readFile(path) {
    var f = new File(path, "rb");
    var content = f.read();
    f.close();
    if (content === undefined) fail("cannot read " + path);
    return { content: content, time: f.time };
}

function u32(v) {
    return String.fromCharCode((v >>> 24) & 255, (v >>> 16) & 255, (v >>> 8) & 255, v & 255);
}

// One argument of a command line by the C runtime's rules: in quotes, with each quote and
// the backslashes in front of it, and the backslashes at the end, escaped.
function quoteArg(text) {
    return '"' + text.replace(/(\\*)"/g, '$1$1\\"').replace(/(\\+)$/, "$1$1") + '"';
}

function writeAll(f, data, path) {
    if (f.write(data) !== data.length) fail("cannot write " + path);
}

// A runtime image without any package behind it: the open file and the image's size.
function openImage(path) {
    var self = new File(path, "rb");
    var size = self.initAFS() ? self.afs.pos : (File.status(path) || {}).size;
    if (!size) fail("cannot read the runtime image " + path);
    return { file: self, size: size, path: path };
}

// Copies the image to out in pieces of 1 MiB: a whole image at once (an unstripped one is
// many megabytes) would take much of the script heap.
function copyImage(image, out, output) {
    for (var done = 0; done < image.size;) {
        var piece = image.file.read(Math.min(1048576, image.size - done));
        if (!piece) {
            out.close();
            File.remove(output); // no half-written application left behind
            fail("cannot read the runtime image " + image.path);
        }
        writeAll(out, piece, output);
        done += piece.length;
    }
    image.file.close();
}

function pack(dir, output, options) {
    var st = File.status(dir);
    if (!st || st.type != "dir") fail("no such directory: " + dir);
    var files = walk(dir, "", [], options.exclude);
    if (files.indexOf("scripts/autorun.js") < 0)
        fail(dir + " has no entry script scripts/autorun.js: nothing would run");
    var fsd = {}, streams = {}, errors = [], bytes = 0, packed = 0;
    for (var i = 0; i < files.length; i++) {
        var rel = files[i];
        // Package names are byte strings: a character beyond U+00FF would lose its high
        // byte and the entry could not be found again.
        if (/[^\x00-\xFF]/.test(rel)) fail("cannot pack " + rel + ": name beyond Latin-1");
        var file = readFile(join(dir, rel));
        if (/\.js$/i.test(rel) && !matchesAny(options.noCheck, rel, false)) {
            var error = compileError(rel, file.content);
            if (error) errors.push(error);
        }
        var stream = File.compress(file.content);
        var slash = rel.indexOf("/");
        fsd[rel] = { size: file.content.length, csize: stream.length, time: file.time,
                     module: slash < 0 ? "" : rel.substring(0, slash) };
        streams[rel] = stream;
        bytes += file.content.length;
        packed += stream.length;
    }
    if (errors.length) {
        for (i = 0; i < errors.length; i++) System.print(errors[i]);
        fail(errors.length + (errors.length == 1 ? " script does" : " scripts do") +
             " not compile: nothing written");
    }
    var text = uneval(fsd), dirStream = File.compress(text);
    var image = openImage(options.runtime);
    var out = new File();
    if (!out.open(output, "wb")) fail("cannot write " + output);
    copyImage(image, out, output);
    writeAll(out, u32(dirStream.length) + u32(text.length) + dirStream, output);
    var length = 8 + dirStream.length;
    // Streams follow in the directory's own enumeration order, which is how the reader
    // assigns their offsets.
    for (var name in fsd) {
        writeAll(out, streams[name], output);
        length += streams[name].length;
    }
    writeAll(out, "\xAB\xCD\xAB\xCD" + u32(length + 8), output);
    out.close();
    if (System.exec && !System.exec("chmod +x " + quoteArg(output), undefined, 1))
        fail("cannot make " + output + " executable");
    System.print("capsule-pack: " + files.length + (files.length == 1 ? " file, " : " files, ") +
                 bytes + " bytes compressed to " +
                 packed + "; " + (image.size + length + 8) + " bytes written to " + output);
}

function openPackage(path) {
    var f = new File(path, "rb");
    if (f.read(0) === undefined) fail("cannot open " + path);
    if (!f.initAFS()) fail("no package in " + path);
    return f;
}

function pad(text, width) {
    text = String(text);
    while (text.length < width) text = " " + text;
    return text;
}

function list(path) {
    var fsd = openPackage(path).afs.fsd;
    for (var name in fsd) {
        var e = fsd[name];
        System.print(pad(e.size, 10) + " " + pad(e.csize, 10) + "  " + e.module + "  " + name);
    }
}

function makeDirs(path) {
    var parts = path.split("/"), at = "";
    for (var i = 0; i < parts.length; i++) {
        at = i ? at + "/" + parts[i] : parts[i];
        if (at && !File.status(at) && !File.createDir(at)) fail("cannot create " + at);
    }
}

function unpack(path, dir) {
    var pkg = openPackage(path), fsd = pkg.afs.fsd, count = 0;
    for (var name in fsd) {
        var target = dir + "/" + name;
        makeDirs(target.substring(0, target.lastIndexOf("/")));
        var content = pkg.extract(name) || "";
        var out = new File();
        if (!out.open(target, "wb")) fail("cannot write " + target);
        writeAll(out, content, target);
        out.close();
        File.setTime(target, fsd[name].time);
        count++;
    }
    System.print("capsule-pack: " + count + " files unpacked to " + dir);
}

// The packing command line: options, then the folder and the output.
function packCommand(args) {
    var options = { runtime: argv[0], exclude: [globTest(".git")], noCheck: [] }, rest = [];
    for (var i = 0; i < args.length; i++) {
        var a = args[i];
        if ((a == "--runtime" || a == "--exclude" || a == "--no-check") && i + 1 < args.length) {
            var value = args[++i];
            if (a == "--runtime") options.runtime = absolute(value);
            else (a == "--exclude" ? options.exclude : options.noCheck).push(globTest(value));
        } else if (a.charAt(0) == "-") {
            usage();
        } else {
            rest.push(a);
        }
    }
    if (rest.length != 2) usage();
    pack(absolute(rest[0]), absolute(rest[1]), options);
}

try {
    if (argv[1] == "--list" && argv.length == 3) list(absolute(argv[2]));
    else if (argv[1] == "--unpack" && argv.length == 4) unpack(absolute(argv[2]), absolute(argv[3]));
    else packCommand(argv.slice(1));
} catch (e) {
    fail(e && e.toSource ? e.toSource() : uneval(e));
}
