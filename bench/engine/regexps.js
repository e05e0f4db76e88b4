var text = new Array(2001).join("The quick brown fox jumps over the lazy dog. 12345 foo@bar.com ");
var n = text.match(/\w+/g).length + text.split(/\s+/).length;
n += text.replace(/(quick|lazy) (\w+)/g, "$2").length;
for (var re = /(\d+) (\w+)@(\w+)\.com/g; re.exec(text);) n++;
for (var i = 0; i < 20000; i++) if (/^[a-z]+\d*$/i.test("abc" + i)) n++;
