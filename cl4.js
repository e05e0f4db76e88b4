System.loadModule("bin/msocket.dll");
var s = new Socket("ssl");
s.connect("localhost", 35117);
System.print("sent " + s.send("GET / HTTP/1.0\r\n\r\n"));
var t0 = Date.now();
for (var i = 0; i < 1000; i++) { var part = s.recv(); System.print((Date.now() - t0) + " got " + part.length); if (part === "") break; }
s.close();
System.exit(0);
