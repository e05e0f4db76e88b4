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
