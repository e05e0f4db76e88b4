// The XML benchmark's application (see bench/xml.sh), in the API form of E4X until the
// translator takes the syntax (the same steps as bench/xml_rhino.js):
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
    // x.item.(@kind == "3")
    var kind3 = __lang.xml.filter(x.item, function ($x1) {
        with ($x1) return $x1["@kind"] == "3";
    }, this);
    // x..item.(parseFloat(price) < 10)
    var cheap = __lang.xml.filter(__lang.xml.descendants(x, "item"), function ($x1) {
        with ($x1) return parseFloat(price) < 10;
    }, this);
    var items = x.item;
    for (var i = 0; i < 1000; i++)
        items[i].setName("entry");
    var text = x.toXMLString();
    System.print("kind 3: " + kind3.length() + ", under 10: " + cheap.length() + ", entries: " +
                 x.entry.length() + ", text: " + text.length);
} else {
    var doc = __lang.xml.literal("<items/>");
    for (var i = 0; i < +argv[2]; i++) {
        // <item id={i} kind={i % 7}><name>{"item " + i}</name><price>{i % 50}</price></item>
        doc.appendChild(__lang.xml.literal(
            "<item id=\"" + __lang.xml.escapeAttribute(i) + "\" kind=\"" +
            __lang.xml.escapeAttribute(i % 7) + "\"><name>" + __lang.xml.content("item " + i) +
            "</name><price>" + __lang.xml.content(i % 50) + "</price></item>"));
    }
    var text = doc.toXMLString();
    System.print("items: " + doc.item.length() + ", text: " + text.length);
}
System.print("time " + (Date.now() - start) + " ms");
