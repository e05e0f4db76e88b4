var s = '', parts = [];
for (var i = 0; i < 200000; i++) { s += String.fromCharCode(97 + i % 26); if (s.length > 1000) { parts.push(s); s = ''; } }
var t = parts.join('|');
