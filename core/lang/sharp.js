// provides: __lang.sharp
// Sharp variables: the translator writes #1={self: #1#} as
// __lang.sharp($sharp1 = {}, {self: $sharp1}), so that the object exists, named, while its
// literal is built; this moves the literal's own members (accessors, holes and an array's
// length included) and its prototype onto that object and returns it.
var define = Object.defineProperty, describe = Object.getOwnPropertyDescriptor;
var names = Object.getOwnPropertyNames, protoOf = Object.getPrototypeOf;
var setProto = Object.setPrototypeOf;
__lang.sharp = function (target, literal) {
    var keys = names(literal);
    for (var i = 0; i < keys.length; i++)
        define(target, keys[i], describe(literal, keys[i]));
    var proto = protoOf(literal);
    if (proto !== protoOf(target)) setProto(target, proto);
    return target;
};
