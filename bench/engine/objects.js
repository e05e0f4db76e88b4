var a = [];
for (var i = 0; i < 100000; i++) a.push({id: i, name: 'row ' + i});
