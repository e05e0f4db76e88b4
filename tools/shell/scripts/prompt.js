// The prompt: reads lines until the input compiles, evaluates it in the one global scope,
// prints its value in uneval form (XML as its text) and goes on; an error is shown as
// "file:line message". It ends at the end of input or on quit(). Evaluates to the function
// that runs it with the shell's setup.
(function (setup) {
    var name = "typein";

    // The compiler's error for source, or null when it compiles.
    function compileError(source) {
        try {
            System.compile(name, source);
            return null;
        } catch (e) {
            return e;
        }
    }

    // An input is incomplete when its compile error lies at its end, where more lines go
    // on: the compiler ran out of input (with one more empty line the error moves down a
    // line: an open brace, parenthesis or operator), or a comment or an XML literal is
    // still open (those errors name the line where it opened). Any other error is the
    // input's own, shown at once.
    function incomplete(source, error) {
        if (/^unterminated (comment|XML)/.test(error.message)) return true;
        var later = compileError(source + "\n");
        return !!later && later.lineNumber != error.lineNumber;
    }

    function describe(e) {
        if (e instanceof Error)
            return e.fileName + ":" + e.lineNumber + " " + e.name + ": " + e.message;
        return "uncaught exception: " + uneval(e);
    }

    function show(value) {
        return typeof value == "xml" ? value.toXMLString() : uneval(value);
    }

    function run(source) {
        try {
            var value = System.evaluate(name, source);
            if (value !== undefined) System.print(show(value));
        } catch (e) {
            System.print(describe(e));
        }
    }

    setup.enter(setup.started(), "", argv.slice(0));
    setup.shellGlobals();
    var source = "";
    for (;;) {
        var line = System.readLine(source ? "... " : "js> ");
        if (line === null) break;
        if (!source && !/\S/.test(line)) continue;
        source += line + "\n";
        var error = compileError(source);
        if (error && incomplete(source, error)) continue;
        if (error) System.print(describe(error));
        else run(source);
        source = "";
    }
    // An input left open at the end is shown with its error, as the compiler sees it.
    var open = source && compileError(source);
    if (open) System.print(describe(open));
    System.print("");
})
