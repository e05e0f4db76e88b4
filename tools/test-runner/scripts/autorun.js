// capsule-test <file.js>: runs a script test after the harness and ends with the line
// "N passed, N failed"; the exit code is 0 only when every case passed.
include("scripts/harness.js", "AFS");
if (argv.length < 2) {
    System.print("usage: capsule-test <file.js>");
    System.exit(2);
}
var testFile = argv[1];
try {
    include(testFile, "DISK");
} catch (e) {
    failed++;
    System.print("FAIL " + testFile + ": " + (e && e.toSource ? e.toSource() : uneval(e)));
}
done();
