// Process natives: exec, open and enumProcesses, with real child processes working in a
// scratch folder that the test makes under the working directory and removes at the end.

var cwd = File.getCurrentWorkingDir();
var scratchName = "proc_test_" + System.getPID();
var scratch = cwd + "/" + scratchName;

function writeFile(path, content) {
    var f = new File(path, "wb");
    f.write(content);
    f.close();
}

function readFile(path) {
    var f = new File(path, "rb");
    var s = f.read(65536);
    f.close();
    return s;
}

function exists(path) {
    return !!File.status(path);
}

// Sorted non-empty lines of a file, [] when it does not exist.
function lines(path) {
    if (!exists(path)) return [];
    return readFile(path).split(/\r?\n/).filter(function (l) { return l !== ""; }).sort();
}

// The children's commands in each system's form: the shell (sh, or cmd on Windows) with a
// command line of steps, a pause of about s seconds, a file made, a program that does
// nothing, and a path as the system writes it.
function shell(steps) {
    return onWindows ? 'cmd /c "' + steps.join(" & ") + '"' : 'sh -c "' + steps.join("; ") + '"';
}
function pause(s) {
    return onWindows ? "ping -n " + (Math.ceil(s) + 1) + " 127.0.0.1 > nul" : "sleep " + s;
}
function touch(name) {
    return (onWindows ? "echo x> " : "echo > ") + name;
}
var nothing = onWindows ? "cmd /c exit" : "true";
function native(path) {
    return onWindows ? path.replace(/\//g, "\\") : path;
}
var newline = onWindows ? "\r\n" : "\n";

assertTrue(File.createDir(scratch), "scratch folder made");
assertTrue(File.createDir(scratch + "/sub") && File.createDir(scratch + "/bin") &&
           File.createDir(scratch + "/empty"), "folders made");
writeFile(scratch + "/doc.txt", "a document\n");
if (onWindows) {
    // Batch files that record their arguments as they got them, one line each.
    var standIns = ["tool.cmd"];
    for (var i = 0; i < standIns.length; i++)
        writeFile(scratch + "/bin/" + standIns[i], '@echo %*>> "' + native(scratch) + "\\bin\\" +
                  standIns[i] + '.log"\r\n');
    // And a program: a copy of this runner, which runs the script its first argument names.
    var self = new File(argv[0], "rb");
    writeFile(scratch + "/bin/rec.exe", self.read());
    self.close();
} else {
    // Records its arguments as one line "a|b|" in <its own path>.log.
    var recorder = "#!/bin/sh\nline=$(printf '%s|' \"$@\")\necho \"$line\" >> \"$0.log\"\n";
    // Stand-ins for the desktop opener (xdg-open) and the elevation tool (pkexec), which
    // cannot run here, plus two plain programs; all of them only record their arguments.
    var standIns = ["xdg-open", "pkexec", "tool", "rec"];
    for (var i = 0; i < standIns.length; i++) writeFile(scratch + "/bin/" + standIns[i], recorder);
    assertTrue(System.exec("chmod 755 " + standIns.join(" "), scratch + "/bin", 1), "chmod");
}

try {
    test("too few arguments are format errors", function () {
        var e = assertThrows(function () { System.exec(); });
        assertEq(e.message, "Native function format error: " +
                 "System.exec(<command>, [directory], [wait], [silent], [useExecV])");
        e = assertThrows(function () { System.open(); });
        assertEq(e.message, "Native function format error: System.open(<file>, [params], ['runas'])");
        assertEq(System.exec.length, 1);
        assertEq(System.open.length, 1);
        assertEq(System.enumProcesses.length, 0);
    });

    test("exec of no existing program is false, with or without wait", function () {
        assertEq(System.exec("no_such_program_" + System.getPID()), false);
        var start = Date.now();
        assertEq(System.exec("no_such_program_" + System.getPID() + " a b", undefined, 1), false);
        assertTrue(Date.now() - start < 2000, "returns at once");
        assertEq(System.exec(""), false, "empty command");
        assertEq(System.exec(" \t "), false, "blank command");
        assertEq(System.exec(scratch + "/sub"), false, "a folder");
        assertEq(System.exec(scratch + "/doc.txt", undefined, 1), false, "not executable");
    });

    test("exec with wait returns after the child ended, true whatever its exit code", function () {
        assertEq(System.exec(shell([pause(0.2), touch("waited"), "exit 3"]), scratch, true), true);
        assertTrue(exists(scratch + "/waited"), "child done before exec returned");
        // A text that is no number converts to a non-zero integer: it waits too.
        assertEq(System.exec(shell([pause(0.2), touch("waited2")]), scratch, "yes"), true);
        assertTrue(exists(scratch + "/waited2"), "text flag waits");
        // silent and useExecV are accepted and change nothing.
        assertEq(System.exec(shell([touch("waited3")]), scratch, 1, 1, 0), true);
        assertTrue(exists(scratch + "/waited3"), "with silent and useExecV");
        var command = { toString: function () { return nothing; } };
        assertEq(System.exec(command, undefined, 1), true, "command converted from an object");
    });

    var unwaited = [undefined, 0, false, null];
    test("exec without wait returns as soon as the child exists", function () {
        for (var i = 0; i < unwaited.length; i++) {
            var r = System.exec(shell([pause(1), touch("late" + i)]), scratch, unwaited[i]);
            assertEq(r, true, "started with wait " + unwaited[i]);
            assertTrue(!exists(scratch + "/late" + i), "returned before the child ended");
        }
    });

    test("exec runs in the given directory, else in the current one", function () {
        var where = onWindows ? "cd" : "pwd -P";
        assertEq(System.exec(shell([where + " > here"]), scratch + "/sub", 1), true);
        assertEq(readFile(scratch + "/sub/here"), native(scratch + "/sub") + newline);
        assertTrue(!exists(cwd + "/here"), "nothing in the current directory");
        // Backslashes separate folders in directory names from scripts.
        assertEq(System.exec(shell([where + " > here2"]), scratchName + "\\sub", 1), true);
        assertTrue(exists(scratch + "/sub/here2"), "relative directory with a backslash");
        assertEq(System.exec(shell([where + " > " + scratch + "/cwd_out"]), undefined, 1), true);
        assertEq(readFile(scratch + "/cwd_out"), cwd + newline);
        // A relative program path is found from the host's directory. On Windows that is an
        // executable, rec.exe: cmd, which runs batch files, would look for one from the
        // child's folder.
        if (onWindows)
            writeFile(scratch + "/bin/child.js", "var f = new File(" +
                      JSON.stringify(scratch + "/bin/rec.log") + ", 'wb'); f.write('x|'); f.close(); System.exit(0);");
        assertEq(System.exec(scratchName + (onWindows ? "\\bin\\rec.exe " + native(scratch) +
                                            "\\bin\\child.js" : "/bin/rec x"),
                             scratch + "/sub", 1), true);
        assertEq(lines(scratch + "/bin/rec.log").join(), "x|");
    });

    // On Windows the programs are copies of this runner, which runs the script its first
    // argument names: that script records the path its copy was started from. The system's
    // own folders come before PATH there, so PATH is tried on Linux only.
    if (onWindows) test("a bare program name: the application's folder, the working directory", function () {
        var app = argv[0].substring(0, argv[0].lastIndexOf("\\"));
        var name = "exec_probe_" + System.getPID();
        var self = new File(argv[0], "rb");
        var image = self.read();
        self.close();
        var copies = [app + "\\" + name + ".exe", native(scratch + "/sub/" + name + ".exe")];
        for (var i = 0; i < copies.length; i++) writeFile(copies[i], image);
        writeFile(scratch + "/where.js", "var f = new File(argv[2], 'wb'); f.write(argv[0]); f.close();");
        assertTrue(File.changeDir(scratch + "/sub"), "changeDir");
        try {
            var where = [];
            for (var round = 0; round < 3; round++) {
                var out = native(scratch + "/found" + round);
                where.push(System.exec(name + " " + native(scratch + "/where.js") + " " + out,
                                       undefined, 1) && readFile(out).toLowerCase());
                if (round < 2) assertTrue(File.remove(copies[round]), "copy removed");
            }
            assertEq(where.join("|"), copies.join("|").toLowerCase() + "|false");
        } finally {
            File.changeDir(cwd);
            File.remove(copies[0]);
        }
    });

    if (!onWindows) test("a bare program name: the application's folder, the working directory, PATH", function () {
        var app = argv[0].substring(0, argv[0].lastIndexOf("/"));
        var name = "exec_probe_" + System.getPID();
        writeFile(app + "/" + name, "#!/bin/sh\necho app > \"$1\"\n");
        writeFile(scratch + "/sub/" + name, "#!/bin/sh\necho cwd > \"$1\"\n");
        assertTrue(System.exec("chmod 755 " + app + "/" + name + " " + scratch + "/sub/" + name,
                               undefined, 1), "chmod");
        // Away from the application's folder, so that the two places differ.
        assertTrue(File.changeDir(scratch + "/sub"), "changeDir");
        try {
            var where = [];
            for (var round = 0; round < 3; round++) {
                var out = scratch + "/found" + round;
                where.push(System.exec(name + " " + out, undefined, 1) && readFile(out));
                File.remove(round ? scratch + "/sub/" + name : app + "/" + name);
            }
            assertEq(where.join("|"), "app\n|cwd\n|false");
            // What neither folder holds comes from PATH.
            assertEq(System.exec("sh -c \"echo path > " + scratch + "/found3\"", undefined, 1), true);
            assertEq(readFile(scratch + "/found3"), "path\n");
        } finally {
            File.changeDir(cwd);
            File.remove(app + "/" + name);
        }
    });

    // Windows starts every child without inheriting a handle; Linux shows it in /proc.
    if (!onWindows) test("only the standard streams reach the child", function () {
        var held = new File(scratch + "/doc.txt", "rb");
        try {
            assertEq(System.exec('sh -c "ls /proc/self/fd > fds"', scratch, 1), true);
        } finally {
            held.close();
        }
        // ls itself holds the fourth descriptor, for the folder it lists.
        assertEq(readFile(scratch + "/fds"), "0\n1\n2\n3\n");
    });

    test("exec in a directory that does not exist is false", function () {
        assertTrue(!exists(cwd + "/null"), "no folder named null here");
        assertEq(System.exec(nothing, null, 1), false, "null is the folder name 'null'");
        assertEq(System.exec(nothing, scratch + "/missing", 1), false);
        assertEq(System.exec(nothing, scratch + "/doc.txt"), false, "a file");
        assertEq(System.exec(nothing, ""), false, "the empty name");
        assertEq(System.exec(nothing, scratch, 1), true, "the same in a folder that exists");
    });

    // On Windows the command line reaches the child as it is, and the child's runtime
    // library splits it: rec.exe writes what it got, characters beyond ASCII escaped.
    if (onWindows) test("the child's runtime splits the command line by the Windows rules", function () {
        writeFile(scratch + "/bin/args.js", "var f = new File(" + JSON.stringify(scratch + "/args") +
                  ", 'wb'); f.write(argv.slice(2).join('|').replace(/[^ -~]/g, function (c) {" +
                  " return '<' + c.charCodeAt(0).toString(16) + '>'; }) + '|'); f.close(); System.exit(0);");
        var command = native(scratch + "/bin/rec.exe") + " " + native(scratch + "/bin/args.js") +
                      ' "a b" "c\\"d" e\\\\f "" "g\\\\" h \u00e4\u20ac';
        assertEq(System.exec(command, scratch, 1), true);
        assertEq(readFile(scratch + "/args"), 'a b|c"d|e\\\\f||g\\|h|<e4><20ac>|');
    });

    if (!onWindows) test("exec splits the command line by the Windows rules", function () {
        var command = 'sh -c "printf \'%s|\' \\"$@\\" > args" x "a b" "c\\"d" e\\\\f "" ' +
                      '"g\\\\" h \u00e4\u20ac';
        assertEq(System.exec(command, scratch, 1), true);
        // The file holds UTF-8, read back one character per byte.
        assertEq(readFile(scratch + "/args"),
                 'a b|c"d|e\\\\f||g\\|h|\u00c3\u00a4\u00e2\u0082\u00ac|');
    });

    test("enumProcesses lists every process as {name, pid}", function () {
        assertTrue(System.exec(onWindows ? "ping -n 3 127.0.0.1" : "sleep 1"), "a child to find");
        var list = System.enumProcesses("ignored");
        assertTrue(list instanceof Array && list.length > 1, "a list");
        var own = null, sleeper = false, seen = {};
        for (var i = 0; i < list.length; i++) {
            assertTrue(i in list, "no hole at " + i);
            var p = list[i];
            assertEq(Object.keys(p).join(), "name,pid", "properties of record " + i);
            assertEq(typeof p.name, "string");
            assertTrue(typeof p.pid === "number" && p.pid > 0 && p.pid === Math.floor(p.pid),
                       "pid " + p.pid);
            assertTrue(!seen[p.pid], "pid " + p.pid + " listed once");
            seen[p.pid] = true;
            if (p.pid === System.getPID()) own = p;
            if (p.name === (onWindows ? "ping.exe" : "sleep")) sleeper = true;
        }
        assertTrue(own !== null, "own process listed");
        var exe = argv[0].substring(argv[0].lastIndexOf(pathSeparator) + 1);
        assertEq(own.name, exe, "own executable's name");
        assertTrue(sleeper, "the child listed by its executable's name");
        own.pid = 0;
        own.name = "x";
        assertEq(own.pid, System.getPID(), "read-only pid");
        assertEq(own.name, exe, "read-only name");
    });

    // open runs in a child script host whose PATH holds only the stand-ins (or nothing),
    // writing its results to a file.
    function openInChild(path, calls) {
        var result = scratch + "/open_result";
        if (exists(result)) File.remove(result);
        writeFile(scratch + "/open_child.js", "var r = [" + calls.join(", ") + "];\n" +
                  "var f = new File(" + JSON.stringify(result) + ", 'wb');\n" +
                  "f.write(r.join()); f.close(); System.exit(0);\n");
        var command = 'env "PATH=' + path + '" "' + argv[0] + '" "' + scratch + '/open_child.js"';
        assertEq(System.exec(command, undefined, 1), true, "child started");
        return exists(result) ? readFile(result) : "no result";
    }

    // Windows: the shell starts a program with its parameters, also with "runas" (Wine
    // asks no one). Documents and addresses are not opened here: they would reach the
    // desktop of the machine that runs the tests.
    if (onWindows) test("open starts a program with its parameters, also elevated", function () {
        var tool = native(scratch + "/bin/tool.cmd");
        function ran(times) {
            return waitUntil(function () { return lines(tool + ".log").length === times; }, 5000);
        }
        // One after the other: two batch files cannot append to one file at once.
        assertEq(System.open(tool, 'a "b c"'), true);
        assertTrue(ran(1), "the tool ran");
        assertEq(System.open(tool, "x", "runas"), true);
        assertTrue(ran(2), "the tool ran again");
        assertEq(lines(tool + ".log").join("\n"), 'a "b c"\nx');
        assertEq(System.open(scratch + "/bin/missing.cmd"), false);
    });

    if (!onWindows) test("open hands documents and addresses to the opener and elevates through pkexec", function () {
        var tool = JSON.stringify(scratch + "/bin/tool");
        var r = openInChild(scratch + "/bin", [
            "System.open('http://127.0.0.1/')",
            "System.open(" + JSON.stringify(scratchName + "/doc.txt") + ", 'ignored')",
            "System.open(" + JSON.stringify(scratchName + "\\doc.txt") + ", undefined, false)",
            "System.open(" + tool + ", 'a \"b c\" d\\\\\"e')",
            "System.open(" + tool + ", 'x', 'runas')"
        ]);
        assertEq(r, "true,true,true,true,true");
        var bin = scratch + "/bin/";
        assertTrue(waitUntil(function () {
            return lines(bin + "xdg-open.log").length === 2 && lines(bin + "pkexec.log").length === 2 &&
                   lines(bin + "tool.log").length === 1;
        }, 3000), "every stand-in ran");
        assertEq(lines(bin + "xdg-open.log").join("\n"),
                 scratch + "/doc.txt|\nhttp://127.0.0.1/|");
        assertEq(lines(bin + "pkexec.log").join("\n"),
                 scratch + "/bin/tool|x|\nxdg-open|" + scratch + "/doc.txt|");
        assertEq(lines(bin + "tool.log").join("\n"), 'a|b c|d"e|');
    });

    if (!onWindows) test("open without an opener on PATH is false", function () {
        var r = openInChild(scratch + "/empty", [
            "System.open('http://127.0.0.1/')",
            "System.open('http://127.0.0.1/', undefined, 'runas')",
            "System.open(" + JSON.stringify(scratch + "/bin/tool") + ", 'p q')"
        ]);
        // An executable named with its folder needs no opener.
        assertEq(r, "false,false,true");
        assertTrue(waitUntil(function () { return lines(scratch + "/bin/tool.log").length === 2; },
                             3000), "the tool ran");
        assertEq(lines(scratch + "/bin/tool.log")[1], "p|q|");
    });

    test("children not waited for ran and leave no zombie", function () {
        for (var i = 0; i < 5; i++) assertTrue(System.exec(nothing), "started " + i);
        assertTrue(waitUntil(function () {
            for (var i = 0; i < unwaited.length; i++)
                if (!exists(scratch + "/late" + i)) return false;
            return true;
        }, 5000), "the late children finished");
        var me = String(System.getPID());
        function zombies() {
            var list = System.enumProcesses(), n = 0;
            for (var i = 0; i < list.length; i++) {
                var f = new File("/proc/" + list[i].pid + "/stat", "rb");
                var stat = f.read(4096);
                f.close();
                if (typeof stat !== "string") continue; // gone meanwhile
                var fields = stat.substring(stat.lastIndexOf(")") + 2).split(" ");
                if (fields[1] === me && fields[0] === "Z") n++;
            }
            return n;
        }
        if (!onWindows) // a Windows process leaves nothing behind once its handles are closed
            assertTrue(waitUntil(function () { return zombies() === 0; }, 2000),
                   zombies() + " zombie children");
    });
} finally {
    if (onWindows) removeTree(scratch);
    else System.exec("rm -rf " + scratchName, cwd, 1);
}
assertTrue(!exists(scratch), "scratch folder removed");

done();
