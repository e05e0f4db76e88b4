try { f(); } catch ([a, [b, c]] if a) { g(a, b); } catch ({message: m, x: {y}}) { h(m, y); }
function gen() { try { yield 1; } catch ([e, f]) { yield e + f; } }
