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
// since the runtime itself works in its own folder. The package is written beside the
// output and takes its name once complete, so a failure leaves what was there; an output
// that is also an input is refused. Listing and unpacking read the package's directory as
// data and run nothing of it; unpacking refuses names that would leave the folder.

// Files being written, removed if the command fails: a failure leaves what was there.
var scratch = [];

function fail(message) {
    for (var i = 0; i < scratch.length; i++) File.remove(scratch[i]);
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
    if (path.charAt(0) != "/") path = (envp.PWD || File.getCurrentWorkingDir()) + "/" + path;
    // "." and ".." taken out, so that two names of one file compare equal.
    var parts = path.split("/"), out = [];
    for (var i = 0; i < parts.length; i++) {
        if (parts[i] == "..") out.pop();
        else if (parts[i] && parts[i] != ".") out.push(parts[i]);
    }
    return "/" + out.join("/");
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

// A path with every link resolved, "/" between names on every system; fails when the path
// leads nowhere.
function realPath(path, rel) {
    var real = File.realPath(path);
    if (!real) fail("cannot pack " + rel + ": a link that leads nowhere");
    return real.replace(/\\/g, "/");
}

// Every file below root that no exclusion names, as paths relative to it, in name order.
// A link is packed as what it leads to when that lies inside the folder (a folder's files
// below the link's name); a link that leads out of the folder, or to a folder that holds
// it (which would never end), is refused. real is the resolved path of root/rel; holders
// those of the folders above it and its own, the top first.
function walk(root, rel, out, excluded, real, holders) {
    var entries = File.openDir(join(root, rel) + "/*.*"), top = holders[0];
    entries.sort(function (a, b) { return a.name < b.name ? -1 : a.name > b.name ? 1 : 0; });
    for (var i = 0; i < entries.length; i++) {
        var e = entries[i], path = join(rel, e.name);
        if (e.name == "." || e.name == ".." || matchesAny(excluded, path, e.type == "dir")) continue;
        var target = realPath(join(root, path), path);
        if (target != real + "/" + e.name && target != top && target.indexOf(top + "/") != 0)
            fail("cannot pack " + path + ": a link to " + target + ", outside the folder");
        if (e.type != "dir") {
            out.push(path);
        } else {
            if (holders.indexOf(target) >= 0)
                fail("cannot pack " + path + ": a link to a folder that holds it (" + target +
                     "), a loop");
            walk(root, path, out, excluded, target, holders.concat([target]));
        }
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
            fail("cannot read " + image.path);
        }
        writeAll(out, piece, output);
        done += piece.length;
    }
    image.file.close();
}

// A file of the folder above this size is refused before it is read: the packer holds one
// file and its compressed stream at a time.
var kFileLimit = 256 * 1048576;
// The streams of a package are found by 32-bit offsets.
var kPackageLimit = 2047 * 1048576;

// The output must be none of the files the command reads.
function refuseInput(output, dir, files, runtime) {
    if (output == runtime) fail(output + " is the runtime image: it would be lost");
    if (output.indexOf(dir + "/") == 0 && files.indexOf(output.substring(dir.length + 1)) >= 0)
        fail(output + " is in the folder packed: it would pack itself");
    if (output == dir) fail(output + " is the folder packed");
}

// A file written beside the output and given its name once complete.
function scratchFile(output, what) {
    var path = output + "." + what + "-" + Date.now().toString(36) +
               Math.floor(Math.random() * 1e9).toString(36), f = new File();
    if (!f.open(path, "wb")) fail("cannot write " + output);
    scratch.push(path);
    return { file: f, path: path };
}

function pack(dir, output, options) {
    var st = File.status(dir);
    if (!st || st.type != "dir") fail("no such directory: " + dir);
    var top = realPath(dir, dir);
    var files = walk(dir, "", [], options.exclude, top, [top]);
    if (files.indexOf("scripts/autorun.js") < 0)
        fail(dir + " has no entry script scripts/autorun.js: nothing would run");
    refuseInput(output, dir, files, options.runtime);
    // Without a prototype, a file named "__proto__" is an entry like any other.
    var fsd = Object.create(null), errors = [], bytes = 0, packed = 0;
    var streams = scratchFile(output, "streams");
    for (var i = 0; i < files.length; i++) {
        var rel = files[i];
        // Package names are byte strings: a character beyond U+00FF would lose its high
        // byte and the entry could not be found again.
        if (/[^\x00-\xFF]/.test(rel)) fail("cannot pack " + rel + ": name beyond Latin-1");
        var size = (File.status(join(dir, rel)) || {}).size;
        if (size > kFileLimit)
            fail("cannot pack " + rel + ": " + size + " bytes, more than the " + kFileLimit +
                 " a packed file may hold");
        var file = readFile(join(dir, rel));
        if (/\.js$/i.test(rel) && !matchesAny(options.noCheck, rel, false)) {
            var error = compileError(rel, file.content);
            if (error) errors.push(error);
        }
        var stream = File.compress(file.content);
        var slash = rel.indexOf("/");
        fsd[rel] = { size: file.content.length, csize: stream.length, time: file.time,
                     module: slash < 0 ? "" : rel.substring(0, slash) };
        bytes += file.content.length;
        packed += stream.length;
        if (packed > kPackageLimit) fail("cannot pack " + dir + ": more than " + kPackageLimit +
                                         " bytes compressed");
        // Streams follow in the order of the names, which is the directory's own
        // enumeration order, the order in which the reader assigns their offsets.
        writeAll(streams.file, stream, output);
        file = stream = undefined;
    }
    streams.file.close();
    if (errors.length) {
        for (i = 0; i < errors.length; i++) System.print(errors[i]);
        fail(errors.length + (errors.length == 1 ? " script does" : " scripts do") +
             " not compile: nothing written");
    }
    var text = uneval(fsd), dirStream = File.compress(text);
    var image = openImage(options.runtime);
    var out = scratchFile(output, "new");
    copyImage(image, out.file, output);
    writeAll(out.file, u32(dirStream.length) + u32(text.length) + dirStream, output);
    var length = 8 + dirStream.length + packed;
    copyImage({ file: new File(streams.path, "rb"), size: packed, path: streams.path }, out.file,
              output);
    writeAll(out.file, "\xAB\xCD\xAB\xCD" + u32(length + 8), output);
    out.file.close();
    if (System.exec && !System.exec("chmod +x " + quoteArg(out.path), undefined, 1))
        fail("cannot make " + output + " executable");
    if (!File.rename(out.path, output)) fail("cannot write " + output);
    File.remove(streams.path);
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

// A name that would land outside the target folder, on this system or another: an
// absolute path, a drive, an empty, "." or ".." part, with "/" or "\\" between parts.
function leavesFolder(name) {
    if (/^[A-Za-z]:|\x00/.test(name)) return true;
    var parts = name.split(/[\/\\]/);
    for (var i = 0; i < parts.length; i++)
        if (parts[i] == "" || parts[i] == "." || parts[i] == "..") return true;
    return false;
}

function unpack(path, dir) {
    var pkg = openPackage(path), fsd = pkg.afs.fsd, count = 0;
    // Checked before anything is written: a package may come from anyone.
    for (var name in fsd)
        if (leavesFolder(name)) fail("refused to unpack " + path + ": the name " + uneval(name) +
                                     " leaves the folder");
    for (name in fsd) {
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
