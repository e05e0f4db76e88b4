// The XML benchmark's steps in E4X syntax for rhino -version 170 (see bench/xml.sh):
//   rhino -version 170 bench/xml_rhino.js query <items.xml> | build <n>
var mode = arguments[0];
var start = Date.now();
if (mode === "query") {
    var x = new XML(readFile(arguments[1]));
    var kind3 = x.item.(@kind == "3");
    var cheap = x..item.(parseFloat(price) < 10);
    var items = x.item;
    for (var i = 0; i < 1000; i++)
        items[i].setName("entry");
    var text = x.toXMLString();
    print("kind 3: " + kind3.length() + ", under 10: " + cheap.length() + ", entries: " +
          x.entry.length() + ", text: " + text.length);
} else {
    var doc = <items/>;
    for (var i = 0; i < +arguments[1]; i++)
        doc.appendChild(<item id={i} kind={i % 7}><name>{"item " + i}</name><price>{i % 50}</price></item>);
    var text = doc.toXMLString();
    print("items: " + doc.item.length() + ", text: " + text.length);
}
print("time " + (Date.now() - start) + " ms");
