function g(o, a) {
  function h() { return h; }
  with (o) { yield a; x = (yield b) + 1; }
  for (var i = 0; i < 2; i++) {
    let j = i, k = function () { return j; };
    fs.push(function () { return j + k(); }, (j + v for each (v in a)));
    yield [w for each (w in arguments)];
  }
  yield let (z = 1) z, 2;
}
