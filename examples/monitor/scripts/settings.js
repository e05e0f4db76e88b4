// The monitor's settings: string values in the registry under one key of the current
// user, each with a default and a check. Settings.values holds the current ones.

var Settings = {
    root: "HKEY_CURRENT_USER",
    path: "Software\\Capsule\\Monitor",
    values: {},
    maxLength: 255   // of every value
};

// name: [default, check(text) -> error message or "", description]
Settings.fields = {
    port: ["8080", function (v) { return Settings.integerIn(v, 1, 65535); }, "HTTP port"],
    https: ["0", function (v) { return v === "0" || v === "1" ? "" : "must be 0 or 1"; },
            "serve HTTPS"],
    device: ["simulated", function (v) {
        return v === "simulated" || Settings.isDevicePath(v) ? "" :
               "must be simulated or a device path such as /dev/ttyUSB0";
    }, "UPS serial device"],
    baudRate: ["2400", function (v) { return Settings.integerIn(v, 300, 115200); },
               "UPS line speed"],
    snmpHost: ["", function (v) { return /^[\w.:-]*$/.test(v) ? "" : "is no host name"; },
               "SNMP agent (empty: none)"],
    snmpCommunity: ["public", function (v) { return /^[\x21-\x7e]{1,32}$/.test(v) ? "" :
                    "must be 1 to 32 printable characters"; }, "SNMP community"],
    lowBattery: ["30", function (v) { return Settings.integerIn(v, 5, 95); },
                 "battery low below (%)"],
    loadAlarm: ["90", function (v) { return Settings.integerIn(v, 10, 100); },
                "high processor load from (%)"]
};

// A path below /dev/ that stays there: names of letters, digits and ._:+- (the names of
// /dev/serial/by-id/ among them), none of them "." or "..".
Settings.isDevicePath = function (v) {
    return /^\/dev(\/[\w.:+-]+)+$/.test(v) && !/\/\.\.?(\/|$)/.test(v);
};

Settings.integerIn = function (v, low, high) {
    return /^\d+$/.test(v) && +v >= low && +v <= high ? "" :
           "must be a whole number from " + low + " to " + high;
};

// The error message for a value of the setting, or "".
Settings.check = function (name, v) {
    return v.length > Settings.maxLength ? "is too long (at most " + Settings.maxLength +
                                           " characters)" : Settings.fields[name][1](v);
};

Settings.request = function (name, value) {
    return {root: Settings.root, path: Settings.path, key: name, value: value,
            def: Settings.fields[name][0]};
};

// Reads every value from the registry; a stored value that fails its check gives way to
// the default.
Settings.load = function () {
    var values = {};
    for (var name in Settings.fields) {
        var v = System.getRegistry(Settings.request(name));
        values[name] = Settings.check(name, v) ? Settings.fields[name][0] : v;
    }
    Settings.values = values;
    return values;
};

// Checks the changes given (name -> text) and stores them all, or none: the result maps
// each refused name to its message. The registry reports nothing of a write, so each
// value is read back: one the store did not take is an error too, and keeps its old value.
Settings.store = function (changes) {
    var errors = {}, bad = false, name;
    for (name in changes) {
        if (!Settings.fields.hasOwnProperty(name)) continue;
        var message = Settings.check(name, changes[name]);
        if (message) {
            errors[name] = Settings.fields[name][2] + " " + message;
            bad = true;
        }
    }
    if (bad) return errors;
    for (name in changes) {
        if (!Settings.fields.hasOwnProperty(name)) continue;
        System.setRegistry(Settings.request(name, changes[name]));
        var stored = System.getRegistry({root: Settings.root, path: Settings.path, key: name});
        if (stored === changes[name])
            Settings.values[name] = changes[name];
        else
            errors[name] = Settings.fields[name][2] + " was not stored (the settings store " +
                           "refused it)";
    }
    return errors;
};

// The settings as an XML document (the "download settings as XML" link and --export):
//   <settings key="HKEY_CURRENT_USER\Software\Capsule\Monitor">
//     <setting name="port" default="8080" description="HTTP port">8080</setting> ...
Settings.toXML = function () {
    var doc = <settings key={Settings.root + "\\" + Settings.path}/>;
    for (var name in Settings.fields) {
        var f = Settings.fields[name];
        doc.appendChild(<setting name={name} default={f[0]} description={f[2]}>{Settings.values[name]}</setting>);
    }
    return '<?xml version="1.0" encoding="UTF-8"?>\n' + doc.toXMLString() + "\n";
};
