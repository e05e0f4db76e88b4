{ let a = 1;
  var a = 2; }
