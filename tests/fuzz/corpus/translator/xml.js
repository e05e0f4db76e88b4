var x = <r a="1" b={v}><i k="1">{t}</i><!-- c --><![CDATA[<d>]]><?pi x?></r>;
var l = <><a/>{x.i}</>, n = <{tag} {name}={value} {attrs}>text</{tag}>;
x.@a = x.@*.length() + x.*.length(); x.@[k] += 1; delete x.i[0].@k;
x..i.(@k == 2 && n.(text == "a")).@k; x..@k; x..*;
var ns = new Namespace("urn:p"); x.ns::a = x.@ns::b; x.*::c; x.ns::[e](); ns::d; @e;
default xml namespace = "urn:d";
function f() { default xml namespace = ns; var a = <a>
  {b} </a>; yield a; }
for each (var i in x.i.(@k > 1)) i.@k++;
