XML.prettyPrinting = false;
function g() { var x = <r a={yield 1}>{yield 2}<b>{"k"}</b>{yield 3}</r>; yield x.toXMLString(); }
var it = g(); var out = [it.next(), it.send("A"), it.send("B"), it.send("C")]; print(uneval(out));
function h() { yield (yield 1).b.toString() + (yield 2)..c.length(); }
var it2 = h(); it2.next(); it2.send(<a><b>x</b></a>); print(it2.send(<a><d><c/></d><c/></a>));
function k() { var t = <{yield "n"}>{yield 2}</{yield "n2"}>; yield t.toXMLString(); }
var it3 = k(); it3.next(); it3.send("e"); it3.send("v"); print(it3.send("e"));
