// Power devices. A serial UPS speaks a line protocol of our own: the request "Q\r" is
// answered by "(CCC LLL B\r", battery charge and load in percent (three digits each) and
// 1 when it runs on battery. An SNMP agent is read through the standard UPS-MIB.
// Each driver's read() gives {charge, load, onBattery}, or null when the device is silent.

var UpsProtocol = {request: "Q\r", answerLength: 11};

UpsProtocol.answer = function (charge, load, onBattery) {
    function three(n) { n = Math.max(0, Math.min(999, Math.round(n))); return ("00" + n).slice(-3); }
    return "(" + three(charge) + " " + three(load) + " " + (onBattery ? 1 : 0) + "\r";
};

UpsProtocol.parse = function (text) {
    var m = /^\((\d{3}) (\d{3}) ([01])\r$/.exec(text);
    return m ? {charge: +m[1], load: +m[2], onBattery: m[3] === "1"} : null;
};

// A UPS on a serial line; the port is opened again after it failed.
function SerialUps(device, baudRate) {
    this.device = device;
    this.baudRate = baudRate;
    this.port = null;
    this.name = "serial " + device;
}

SerialUps.prototype.read = function () {
    if (!this.port) {
        var port = new Serial();
        if (!port.open({port: this.device, baudRate: this.baudRate})) return null;
        this.port = port;
    }
    if (this.port.write({content: UpsProtocol.request}) !== UpsProtocol.request.length) {
        this.close();
        return null;
    }
    return UpsProtocol.parse(this.port.read({count: UpsProtocol.answerLength}));
};

SerialUps.prototype.close = function () {
    if (this.port) this.port.close();
    this.port = null;
};

// A UPS behind an SNMP agent (UPS-MIB, RFC 1628).
function SnmpUps(host, community) {
    this.host = host;
    this.community = community;
    this.session = null;
    this.name = "SNMP " + host;
}

SnmpUps.oids = {
    charge: ".1.3.6.1.2.1.33.1.2.4.0",   // upsEstimatedChargeRemaining
    load: ".1.3.6.1.2.1.33.1.4.4.1.5.1", // upsOutputPercentLoad, first line
    source: ".1.3.6.1.2.1.33.1.4.1.0"    // upsOutputSource: 3 normal, 5 battery
};

SnmpUps.prototype.read = function () {
    if (!this.session) {
        this.session = new Snmp();
        this.session.open(this.host, this.community, 1000);
    }
    var values = {};
    for (var name in SnmpUps.oids) {
        var answer = this.session.getOID(SnmpUps.oids[name]);
        if (answer.error !== "no_error") return null;
        values[name] = +answer.value;
    }
    return {charge: values.charge, load: values.load, onBattery: values.source === 5};
};

SnmpUps.prototype.close = function () {
    if (this.session) this.session.close();
    this.session = null;
};
