var [a, , {b: c}] = f();
[a, c] = [c, a];
function g([p, q], {r}) { return p + q + r; }
