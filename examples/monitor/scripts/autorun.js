// Capsule power monitor: polls the host and a UPS, keeps an event log and the last hour
// of readings, and serves a web interface on 127.0.0.1.
//   monitor [--port N] [--https] [--device simulated|/dev/...] [--data DIR]
//                               runs in the console; Ctrl-C stops it
//   monitor --install | --uninstall   registers or removes the system service
//   monitor --service           what the service manager starts
//   monitor --export            prints the settings as XML
//   monitor --simulate DIR [--parent PID]   the UPS simulator (started by the monitor)
// The command line and the start first; App.start includes the web server (http.js,
// routes.js) once its port is bound, and the rest (store.js, ups.js, simulator.js,
// poller.js) once the first page is served.
include("scripts/util.js", "AFS");
include("scripts/modules.js", "AFS");
include("scripts/settings.js", "AFS");
include("scripts/app.js", "AFS");
include("scripts/service.js", "AFS");

Service.main(argv.slice(1));
