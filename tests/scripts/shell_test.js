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
    ['null.x;', "(new TypeError(\"null has no properties\", \"script.js\", 1))\n1\n"]
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

// The prompt in a terminal: tmux runs the shell on a server of this test's own; keys are
// typed, the screen is read.
var tmux = "tmux -L shell_test_" + System.getPID() + " ";

function screen() {
    return run(tmux + "capture-pane -p -t prompt").replace(/\s*\n\d+\n$/, "");
}

// A word ending in ";" would end tmux's command: it is escaped.
function type(line) {
    run(tmux + "send-keys -t prompt -l " + quote(line.replace(/;$/, "\\;")) + " && " + tmux + "send-keys -t prompt Enter");
}

// Polls the screen every 100 ms for at most 5 s until it ends with text; the last screen.
function waitScreen(text) {
    for (var end = Date.now() + 5000, shown; Date.now() < end; System.sleep(100)) {
        shown = screen();
        if (shown.slice(-text.length) == text) break;
    }
    return shown;
}

// The shell in a new session; once it ends, the pane shows its exit status and stays.
function startPrompt() {
    run(tmux + "kill-session -t prompt");
    run(tmux + "new-session -d -x 100 -y 40 -s prompt " +
        quote("cd " + quote(scratch) + " && " + shell + "; echo \"[status $?]\"; sleep 60"));
    return waitScreen("js>");
}

// Lines typed -> what the prompt shows after them (the prompts and the echo of the input
// included), in one session, one global scope.
var session = [
    [["1 + 2"], "js> 1 + 2\n3"],
    [["function twice(a) {", "  return a * 2;", "}"], "js> function twice(a) {\n...   return a * 2;\n... }"],
    [["twice(21)"], "js> twice(21)\n42"],
    [["var x = <list>", "  <item>{twice(1)}</item>", "</list>;"],
     "js> var x = <list>\n...   <item>{twice(1)}</item>\n... </list>;"],
    [["x.item"], "js> x.item\n<item>2</item>"],
    [["/* a comment", "   over two lines */ [1,", "'two']"],
     'js> /* a comment\n...    over two lines */ [1,\n... \'two\']\n[1, "two"]'],
    [["foo(;"], "js> foo(;\ntypein:1 SyntaxError: syntax error"],
    [["nope + 1"], "js> nope + 1\ntypein:1 ReferenceError: nope is not defined"],
    [["throw 5"], "js> throw 5\nuncaught exception: 5"],
    [["include('side.js'); print(fromSide, typeof load('side.js').content)"],
     "js> include('side.js'); print(fromSide, typeof load('side.js').content)\nside string"]
];
test("the prompt in a terminal", function () {
    var shown = startPrompt(), expected = "js>";
    session.forEach(function (row) {
        row[0].forEach(type);
        expected = expected.replace(/js>$/, "") + row[1] + "\njs>";
        shown = waitScreen(expected.slice(-20));
    });
    assertEq(shown, expected);
    type("quit(3)");
    assertEq(waitScreen("[status 3]"), expected + " quit(3)\n[status 3]");
});
test("the prompt ends at the end of input, an open input shown with its error", function () {
    startPrompt();
    type("if (true) {");
    run(tmux + "send-keys -t prompt C-d");
    assertEq(waitScreen("[status 0]"), "js> if (true) {\n... typein:2 SyntaxError: missing } in compound statement\n\n[status 0]");
});
run(tmux + "kill-server");
removeTree(scratch);
done();
