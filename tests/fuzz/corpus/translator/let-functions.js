var fs = [];
for (var i = 0; i < 3; i++) {
  let x = i;
  if (x >= 0) { function g() { return x + h(); } }
  function h() { return x; }
  fs.push(g, h);
}
for (var j = 0; j < 2; j++) let (y = j) { function k() { return y; } fs.push(k); }
function gen() { for (var n = 0; n < 2; n++) { let z = n; function m() { return z; } yield m; } }
