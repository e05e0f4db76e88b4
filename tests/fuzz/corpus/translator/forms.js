var r = [x * y for each (x in a) for (y in b) if (x)];
var g = (v for each (v in r));
for each (let [k, v] in Iterator(o)) print(k, v);
var sq = function (x) x * x;
const C = 3; C = 4;
let (z = 1) { z++; }
