// Array.prototype.join and toLocaleString: each element's text once, the separator between
// them, holes and null and undefined as empty texts, what the result is as a string (equal to
// the same text made otherwise, an index key where it is one). Each table row is a source
// text and the uneval form of its value ("throws Name" when it throws).

// A long text of n parts of 64 characters: its length, its start and its last part.
function joined(n, sep) {
    var parts = [];
    for (var i = 0; i < n; i++) parts.push("0123456789abcdef0123456789abcdef0123456789abcdef012345678" + (1000000 + i));
    var s = parts.join(sep);
    return [s.length, s.slice(0, 10), s.slice(-7)];
}

table("join writes the elements' texts with the separator between them", [
    ["['a', 'b', 'c'].join()", '"a,b,c"'],
    ["['a', null, undefined, 'd'].join('-')", '"a---d"'],
    ["[undefined, 'x'].join('+')", '"+x"'],
    ["['a', , 'b'].join()", '"a,,b"'],
    ["Array.prototype[1] = 'P'; var s = ['a', , 'b'].join(); delete Array.prototype[1]; s", '"a,P,b"'],
    ["var a = ['x']; a.length = 3; a.join('.')", '"x.."'],
    ["var a = []; a[5] = 'z'; a[0] = 'y'; a.join('')", '"yz"'],
    ["[1, 'a', true, {toString: function () { return 'o'; }}].join()", '"1,a,true,o"'],
    ["[].join()", '""'],
    ["[''].join('x')", '""'],
    ["var a = ['p', 'q']; a.join(a)", '"pp,qq"'],
    ["[{toLocaleString: function () { return 'L'; }}, 'b'].toLocaleString()", '"L,b"'],
    ["[1].join({toString: function () { throw new RangeError(); }})", "throws RangeError"],
    ["['a', {toString: function () { throw new URIError(); }}].join()", "throws URIError"],
    ["joined(100000, '')", '[6400000, "0123456789", "1099999"]'],
    ["joined(3, '\\u00e9')", '[194, "0123456789", "1000002"]'],
    ["joined(1000, '\\u00e9')", '[64999, "0123456789", "1000999"]'],
], uneval);

table("the joined text is a string like any other", [
    ["['x', 'y'].join('') === 'x' + 'y'", "true"],
    ["var p = []; for (var i = 0; i < 1000; i++) p.push('part ' + i); var s = p.join(' ');" +
     " [s === p.join(' '), s === p.slice(0, 500).join(' ') + ' ' + p.slice(500).join(' ')]", "[true, true]"],
    ["var s = ['1', '2'].join(''); [({12: 't'})[s], [0, 1, 2][['', '2'].join('')]]", '["t", 2]'],
    ["var o = {}, r; o[['k', 'e', 'y'].join('')] = 1; r = []; for (var k in o) r.push(k); r", '["key"]'],
    ["var h = ['\\u00e9t\\u00e9', '\\u4e2d'].join('|'); [h.length, h.charCodeAt(4), h.indexOf('|')]",
     "[5, 20013, 3]"],
    ["['\\ud83d', '\\ude00'].join('') === '\\ud83d\\ude00'", "true"],
    ["['ab', 'c'].join('').charAt(2) + ['ab', 'c'].join('-').substring(1, 3)", '"cb-"'],
], uneval);

done();
