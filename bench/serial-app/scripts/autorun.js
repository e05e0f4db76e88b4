// The serial benchmark's application (see bench/serial.sh):
//   serial-app <module> <device> <rounds>
// Writes 8 bytes and reads the 8-byte answer, rounds times, on a device that echoes;
// prints the time of the loop and the rounds whose answer was wrong.
System.loadModule(argv[1]);
var port = new Serial();
if (!port.open({port: argv[2], baudRate: 115200})) throw new Error("cannot open " + argv[2]);
var rounds = +argv[3], wrong = 0;
var request = {content: "\x01\x02\x03\x04\x05\x06\x07\x08"}, answer = {count: 8};
var start = Date.now();
for (var i = 0; i < rounds; i++) {
    port.write(request);
    if (port.read(answer) !== request.content) wrong++;
}
System.print("loop " + (Date.now() - start) + " ms, " + wrong + " wrong");
port.close();
