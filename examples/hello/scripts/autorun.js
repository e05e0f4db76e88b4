// A tiny Capsule application: greets, shows what the runtime offers, and uses a helper
// script and a data file from its own package.
include("scripts/greeting.js");
System.print(greeting(argv.length > 1 ? argv[1] : "world"));
System.print("Running on " + System.getSysName() + " as process " + System.getPID());
System.print("Packaged files: " + Object.keys(System.package.afs.fsd).join(", "));
System.print(load("data/motto.txt", "AFS").content);
