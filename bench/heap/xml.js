// The heap benchmark (bench/heap.sh): xml.
var out = typeof print == "function" ? print : function (s) { System.print(s + "\n"); };
var parts = [];
for (var i = 0; i < 200000; i++) parts.push("<item id=\"" + i + "\">value number " + i + " of the list, with a few more words to make it a line of its own</item>");
var x = new XML("<list>" + parts.join("") + "</list>");
parts = null;
var s = x.toXMLString();
out(s.length + " " + x.item.length());
