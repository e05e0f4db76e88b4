// provides: Array.join Array.reverse Array.sort Array.push Array.pop Array.shift Array.unshift Array.splice Array.concat Array.slice Array.indexOf Array.lastIndexOf Array.forEach Array.map Array.filter Array.some Array.every Array.reduce Array.reduceRight String.charAt String.charCodeAt String.concat String.indexOf String.lastIndexOf String.localeCompare String.match String.replace String.search String.slice String.split String.substring String.substr String.toLowerCase String.toUpperCase String.toLocaleLowerCase String.toLocaleUpperCase String.trim String.quote String.prototype.quote
// natives: kGenericNatives
// The Array and String generics: each method of the prototype also as a function of the
// constructor whose first argument is `this` (Array.forEach(list, fn), String.split(s, ",")),
// and String.prototype.quote().
function hide(o, name, value) {
    Object.defineProperty(o, name, {value: value, writable: true, configurable: true});
}
hide(String.prototype, "quote", native.quote);
Object.defineProperty(native.quote, "name", {value: "quote", configurable: true});
function generics(ctor, names) {
    for (var i = 0; i < names.length; i++)
        hide(ctor, names[i], native.generic(ctor.prototype[names[i]], names[i]));
}
generics(Array, ["join", "reverse", "sort", "push", "pop", "shift", "unshift", "splice", "concat",
                 "slice", "indexOf", "lastIndexOf", "forEach", "map", "filter", "some", "every",
                 "reduce", "reduceRight"]);
generics(String, ["charAt", "charCodeAt", "concat", "indexOf", "lastIndexOf", "localeCompare",
                  "match", "replace", "search", "slice", "split", "substring", "substr",
                  "toLowerCase", "toUpperCase", "toLocaleLowerCase", "toLocaleUpperCase", "trim",
                  "quote"]);
