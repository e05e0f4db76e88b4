var o = {};
o.x getter = function () { return 1; };
o["y"] setter = function (v) { this.v = v; };
var p = {a getter: function () 'a', b setter: function (v) {}};
getter function g() { return 2; }
setter function s(v) {}
