// A tiny Capsule application: greets, shows what the runtime offers, and lists its own
// package with a generator, let and for each (the script language of the runtime).
include("scripts/greeting.js");
System.print(greeting(argv.length > 1 ? argv[1] : "world"));
System.print("Running on " + System.getSysName() + " as process " + System.getPID());

// The names of the package's files, one at a time.
function packaged() {
    for (let name in System.package.afs.fsd)
        yield name;
}
let names = [];
for each (let name in packaged())
    names.push(name);
System.print("Packaged files: " + names.join(", "));
System.print(load("data/motto.txt", "AFS").content);
