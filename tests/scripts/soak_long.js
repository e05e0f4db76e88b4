// The long soak: eight threads for 60 seconds. Run from the build folder:
//   ./capsule-test ../tests/scripts/soak_long.js
var soakSettings = {seconds: 60, threads: 8};
var soakFile = new File(File.getCurrentWorkingDir() + "/../tests/scripts/soak_test.js", "rb");
System.evaluate("soak_test.js", soakFile.read());
