// Source text handed to System.evaluate, System.compile and System.createThread reaches
// the compiler with every character whole, as eval's does: quoted data stays data.

// A string as its code units; anything else as its text; "nothing" for undefined.
function unitsOf(v) {
    if (typeof v !== "string") return v === undefined ? "nothing" : String(v);
    var units = [];
    for (var i = 0; i < v.length; i++) units.push(v.charCodeAt(i));
    return units.join(",");
}

// Each row sets `result`; a row that cannot compile leaves it undefined.
var rows = [
    ["result = '\u0122'", "290"],
    ["result = 'a\u0100b'", "97,256,98"],
    ["result = '\ud800'", "55296"],
    ["result = '\ud83d\ude00'", "55357,56832"],
    ["result = 'a\u0000b'", "97,0,98"],
    ["var \u0100x = 5; result = \u0100x", "5"],
    ["var quoted = " + JSON.stringify("\u0122; brokeOut = true; \u0122") +
         "; result = typeof brokeOut == 'undefined'", "true"],
];

table("evaluate and compile keep the characters", rows, unitsOf, function (source) {
    result = undefined;
    System.compile("chars.js", source);
    System.evaluate("chars.js", source);
    return result;
});

table("createThread keeps the characters", rows, unitsOf, function (source) {
    result = undefined;
    System.createThread(source);
    waitUntil(function () { return result !== undefined; }, 2000);
    return result;
});

done();
