function g() { x = yield; f(yield); f((yield 1), 2); var y = [yield, yield 2]; x += yield; }
function h() { f(1, yield 2); }
function f(l) { var m = l.(@id == (yield @id)); yield l.(b == (yield)).length(); }
