var n = 2, a = "f", b = "g";
var x = <p:b{n} xmlns:p="urn:p" x{n}y="1" {a}{b}={n}><{a}-{b}>t</{a}-{b}></p:b{n}>;
x.function::toString() + x.function::[k](1, 2) + typeof x.function::length;
with (x) { @x2y; *.length(); @[k]; f(function () { return @*; }); }
with (o) with (x.*) x.(function () { with (<q z="9"/>) return @z; }());
function g() { with (x) { yield @a; } yield x.function::attribute(yield 1); }
function::parseInt("1"); with (x) { function::name(); x.(function::text() == "2"); function::[k]; }
