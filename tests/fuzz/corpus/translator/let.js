let x = 1;
{ let y = x; f(function () { return y; }); }
