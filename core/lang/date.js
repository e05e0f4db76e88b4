// provides: Date.prototype.toLocaleFormat
// natives: kDateNatives
// date.toLocaleFormat(format): the local time formatted by the C library's strftime.
var fn = native.toLocaleFormat;
Object.defineProperty(fn, "name", {value: "toLocaleFormat", configurable: true});
Object.defineProperty(Date.prototype, "toLocaleFormat", {value: fn, writable: true, configurable: true});
