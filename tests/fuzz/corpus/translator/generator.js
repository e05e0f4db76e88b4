function g(n) {
  try {
    for (var i = 0; i < n; i++) {
      var x = yield i;
      if (x) break;
    }
  } catch (e if e > 1) {
    yield e;
  } finally {
    done();
  }
}
