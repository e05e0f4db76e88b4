// The XML benchmark's application (see bench/xml.sh), the same steps as bench/xml_rhino.js:
//   xml-app query <items.xml>   parse, select by attribute and by descendants, rename
//                               1000 items, serialise
//   xml-app build <n>           build a document of n items from initialisers
// Prints what it found and the length of the text it wrote.
var mode = argv[1];
var start = Date.now();
if (mode === "query") {
    var f = new File(argv[2], "rb");
    var x = new XML(f.read());
    f.close();
    var kind3 = x.item.(@kind == "3");
    var cheap = x..item.(parseFloat(price) < 10);
    var items = x.item;
    for (var i = 0; i < 1000; i++)
        items[i].setName("entry");
    var text = x.toXMLString();
    System.print("kind 3: " + kind3.length() + ", under 10: " + cheap.length() + ", entries: " +
                 x.entry.length() + ", text: " + text.length);
} else {
    var doc = <items/>;
    for (var i = 0; i < +argv[2]; i++)
        doc.appendChild(<item id={i} kind={i % 7}><name>{"item " + i}</name><price>{i % 50}</price></item>);
    var text = doc.toXMLString();
    System.print("items: " + doc.item.length() + ", text: " + text.length);
}
System.print("time " + (Date.now() - start) + " ms");
