// What the monitor's tests share: files, processes and ports.

// A file's content (up to 1 MiB; /proc files report no size), or undefined.
function readFile(path) {
    var f = new File(path, "rb");
    var s = f.read(1 << 20);
    f.close();
    return s;
}

// True while the process runs (not once it ended, reaped or not).
function alive(pid) {
    var stat = pid > 0 ? readFile("/proc/" + pid + "/stat") : undefined;
    return !!stat && !/\) [ZX] /.test(stat);
}

// Sends a signal (TERM, INT, KILL) to one process; never to a group (pid 0 or below).
function signal(pid, name) {
    assertTrue(pid > 1, "a process to signal: " + pid);
    System.exec("kill -" + name + " " + pid, undefined, 1);
}

// A port that nothing listens on right now.
function freePort() {
    for (var i = 0; i < 50; i++) {
        var port = 20000 + Math.floor(Math.random() * 40000), s = new Socket("tcp");
        try {
            s.bind("127.0.0.1", port);
            s.close();
            return port;
        } catch (e) {
            // taken: try another
        }
    }
    fail("no free port");
}

if (typeof Socket === "undefined") System.loadModule("bin/msocket.so");
