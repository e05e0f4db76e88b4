// capsule-pack: packs an application directory behind the bare runtime image (its own, or
// the one --runtime names, such as a Windows capsule.exe), lists a package, or unpacks one.
//   capsule-pack [--runtime <image>] <application-dir> <output>
//   capsule-pack --list <file>
//   capsule-pack --unpack <file> <dir>
// Relative paths are taken from the directory the command was started in ($PWD), since
// the runtime itself works in its own folder.

function fail(message) {
    System.print("capsule-pack: " + message);
    System.exit(1);
}

function usage() {
    System.print("usage: capsule-pack [--runtime <image>] <application-dir> <output>\n" +
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

// Every file below root, as paths relative to it, in name order.
function walk(root, rel, out) {
    var entries = File.openDir(join(root, rel) + "/*.*");
    entries.sort(function (a, b) { return a.name < b.name ? -1 : a.name > b.name ? 1 : 0; });
    for (var i = 0; i < entries.length; i++) {
        var e = entries[i];
        if (e.name == "." || e.name == "..") continue;
        if (e.type == "dir") walk(root, join(rel, e.name), out);
        else out.push(join(rel, e.name));
    }
    return out;
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

function pack(dir, output, runtime) {
    var st = File.status(dir);
    if (!st || st.type != "dir") fail("no such directory: " + dir);
    var files = walk(dir, "", []);
    if (!files.length) fail("nothing to pack in " + dir);
    var fsd = {}, streams = {};
    for (var i = 0; i < files.length; i++) {
        var rel = files[i];
        // Package names are byte strings: a character beyond U+00FF would lose its high
        // byte and the entry could not be found again.
        if (/[^\x00-\xFF]/.test(rel)) fail("cannot pack " + rel + ": name beyond Latin-1");
        var file = readFile(join(dir, rel));
        var stream = File.compress(file.content);
        var slash = rel.indexOf("/");
        fsd[rel] = { size: file.content.length, csize: stream.length, time: file.time,
                     module: slash < 0 ? "" : rel.substring(0, slash) };
        streams[rel] = stream;
    }
    var text = uneval(fsd), dirStream = File.compress(text);
    var image = openImage(runtime);
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
    System.print("capsule-pack: " + files.length + " files, " + (image.size + length + 8) +
                 " bytes written to " + output);
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

try {
    if (argv[1] == "--list" && argv.length == 3) list(absolute(argv[2]));
    else if (argv[1] == "--unpack" && argv.length == 4) unpack(absolute(argv[2]), absolute(argv[3]));
    else if (argv.length == 3 && argv[1].charAt(0) != "-") pack(absolute(argv[1]), absolute(argv[2]), argv[0]);
    else if (argv[1] == "--runtime" && argv.length == 5)
        pack(absolute(argv[3]), absolute(argv[4]), absolute(argv[2]));
    else usage();
} catch (e) {
    fail(e && e.toSource ? e.toSource() : uneval(e));
}
