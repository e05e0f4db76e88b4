--> opening
var a = #1=[1, #1#, {b: #1#}], o = #2={self: #2#};
let x = a <!-- comment
;
<!-- hide
function f() { return #3={g: function () { return #3#; }}; }
  --> close
