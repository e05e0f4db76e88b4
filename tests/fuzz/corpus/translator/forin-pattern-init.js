let x;
for (var [a, b] = [1, 2] in o) ;
