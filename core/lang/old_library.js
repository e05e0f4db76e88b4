// provides: String.prototype.anchor String.prototype.big String.prototype.blink String.prototype.bold String.prototype.fixed String.prototype.fontcolor String.prototype.fontsize String.prototype.italics String.prototype.link String.prototype.small String.prototype.strike String.prototype.sub String.prototype.sup RegExp.prototype.compile
// natives: kOldLibraryNatives
// The older library that scripts of that language level still call: String's HTML
// methods ("x".bold() is "<b>x</b>", "x".link(url) is '<a href="url">x</a>') and
// RegExp.prototype.compile(source, flags) (core/lang/old_library.cpp).
function define(o, name, fn) {
    Object.defineProperty(fn, "name", {value: name, configurable: true});
    Object.defineProperty(o, name, {value: fn, writable: true, configurable: true});
}
["anchor", "big", "blink", "bold", "fixed", "fontcolor", "fontsize", "italics", "link", "small",
 "strike", "sub", "sup"].forEach(function (name) {
    define(String.prototype, name, native[name]);
});
define(RegExp.prototype, "compile", native.compile);
