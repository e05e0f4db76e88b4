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
    var s = listenLoopback("tcp"), port = s.port;
    s.close();
    return port;
}

if (typeof Socket === "undefined") System.loadModule("bin/msocket.so");
