var x = 0;
for (var i = 0; i < 1000000; i++) x = (x + i * 3) % 1000003;
