// capsule-shell: as a runner of application folders and single scripts, and as a prompt in
// a real terminal (tmux: keys sent, the screen read). The runner works in the build folder,
// where the shell and the packed example are; each case works in a scratch folder.

var build = File.getCurrentWorkingDir();
var source = (argv[1].charAt(0) == "/" ? "" : envp.PWD + "/") + argv[1].replace(/tests\/scripts\/[^\/]*$/, "");
var scratch = build + "/shell_test_" + System.getPID();

function writeFile(path, content) {
    var f = new File(path, "wb");
    f.write(content);
    f.close();
}

function readFile(path) {
    var f = new File(path, "rb"), s = f.read();
    f.close();
    return s === undefined ? "" : s;
}

function quote(text) {
    return "'" + text.replace(/'/g, "'\\''") + "'";
}

// Runs a shell command line in the scratch folder (through a script file: no quoting for
// System.exec), its standard input the text input; what it printed, and its exit status on
// a last line.
function run(line, input) {
    writeFile(scratch + "/in.txt", input || "");
    writeFile(scratch + "/run.sh", "(" + line + ") < in.txt > out.txt 2>&1; echo $? >> out.txt\n");
    writeFile(scratch + "/out.txt", "");
    assertTrue(System.exec("sh run.sh", scratch, 1), "sh started");
    return readFile(scratch + "/out.txt");
}

var shell = quote(build + "/capsule-shell");

function makeApp(dir, files) {
    File.createDir(dir);
    for (var name in files) {
        var slash = name.lastIndexOf("/");
        if (slash > 0) File.createDir(dir + "/" + name.substring(0, slash));
        writeFile(dir + "/" + name, files[name]);
    }
}

assertTrue(File.createDir(scratch), "scratch folder made");

test("the example runs from its folder as it runs packed", function () {
    function pidless(text) {
        return text.replace(/process \d+/, "process N");
    }
    var packed = run(build + "/hello you");
    assertEq(pidless(run(shell + " " + source + "examples/hello you")), pidless(packed));
    assertEq(packed.split("\n")[0], "Hello, you!");
});

// An application folder of its own: what its entry script sees, one row a fact.
var app = scratch + "/app";
makeApp(app, {
    "scripts/autorun.js":
        'include("scripts/lib.js", "AFS");\n' +
        "System.print(uneval({argv: Array.prototype.slice.call(argv), cwd: File.getCurrentWorkingDir(),\n" +
        '  lib: fromLib, data: load("data/x.txt", "AFS").content, files: Object.keys(System.package.afs.fsd),\n' +
        '  time: System.package.afs.fsd["data/x.txt"].time == File.status("data/x.txt").time,\n' +
        '  module: System.loadModule("bin/mine.so") && typeof TestThing,\n' +
        '  besideShell: System.loadModule("bin/msqlite.so") && typeof SQLite,\n' +
        "  shellNames: typeof print + typeof quit + typeof setup, included: uneval(include.list),\n" +
        '  argvHidden: Object.keys(global).indexOf("argv") < 0}));\n',
    "scripts/lib.js": "var fromLib = 42;\n",
    "data/x.txt": "data of the app",
    ".git/HEAD": "not packed"
});
File.createDir(app + "/bin");
writeFile(app + "/bin/mine.so", readFile(build + "/bin/mtest.so"));
var out = run("cd / && " + shell + " " + app + "/ one 'two words'").split("\n");
var facts = eval(out[0]) || {};
table("an application folder", [
    ["argv", uneval([app, "one", "two words"])],
    ["cwd", uneval(app)],
    ["lib", "42"],
    ["data", uneval("data of the app")],
    ["files", uneval(["bin/mine.so", "data/x.txt", "scripts/autorun.js", "scripts/lib.js"])],
    ["time", "true"],
    ["module", uneval("function")],
    ["besideShell", uneval("function")],
    ["shellNames", uneval("undefinedundefinedundefined")],
    ["included", uneval(uneval({"scripts/autorun.js": true, "scripts/lib.js": true}))],
    ["argvHidden", "true"]
], uneval, function (name) { return facts[name]; });
test("an application folder: exit status 0", function () { assertEq(out[1], "0"); });

// How runs end: the entry script's own source -> what the shell prints and its status.
var ends = [
    ['throw new Error("boom");', '(new Error("boom", "scripts/autorun.js", 1))\n1\n'],
    ["System.exit(4);", "4\n"],
    [null, "capsule-shell: " + scratch + "/end has no entry script scripts/autorun.js\n2\n"]
];
ends.forEach(function (row) {
    test("an application that ends: " + row[0], function () {
        var dir = scratch + "/end";
        removeTree(dir);
        makeApp(dir, row[0] === null ? {"data/x.txt": "x"} : {"scripts/autorun.js": row[0]});
        assertEq(run(shell + " end"), row[1]);
    });
});

// One script: its source and input -> what it printed and the exit status.
writeFile(scratch + "/side.js", "var fromSide = 'side';");
table("one script", [
    ['print("a", 1, [2, 3]);', "a 1 2,3\n0\n"],
    ["quit(3);", "3\n"],
    ["print(argv.length, argv[0], argv[1], File.getCurrentWorkingDir());",
     "3 " + scratch + "/script.js x " + scratch + "\n0\n"],
    ['include("side.js"); print(fromSide, uneval(load("side.js").content));',
     "side \"var fromSide = 'side';\"\n0\n"],
    ["print(typeof System.package.afs.fsd['scripts/autorun.js']);", "undefined\n0\n"],
    ['null.x;', "(new TypeError(\"cannot read property 'x' of null\", \"script.js\", 1))\n1\n"]
], String, function (src) {
    writeFile(scratch + "/script.js", src);
    return run(shell + " script.js x y");
});
test("a path that is neither a file nor a folder is refused", function () {
    assertEq(run(shell + " nothing.js").split("\n")[0], "capsule-shell: no such file or folder: nothing.js");
});

// System.readLine: standard input -> the lines it gave, until null.
table("System.readLine", [
    ["a\r\nb\n\nlast", '"a" "b" "" "last" null'],
    ["", "null"],
    [new Array(5001).join("x") + "\n", "5000 null"]
], String, function (input) {
    writeFile(scratch + "/lines.js", "var l, got = [];\n" +
              "do { l = System.readLine(); got.push(l && l.length > 100 ? l.length : uneval(l)); }" +
              " while (l !== null);\nprint(got.join(' '));");
    return run(shell + " lines.js", input).replace(/\n0\n$/, "");
});
test("System.readLine writes its prompt without a line feed", function () {
    writeFile(scratch + "/ask.js", 'print(uneval(System.readLine("name? ")));');
    assertEq(run(shell + " ask.js", "me\n"), 'name? "me"\n0\n');
});
removeTree(scratch);
done();
