// A call in one host: Alice captures the test camera and sends to 127.0.0.1 at CIF, 15 fps,
// 250 kbit/s with her name drawn in; Bob receives, shows her picture and records it.
//   quelvora-host examples/loopback.js [OUTPUT_DIR] [SECONDS]
var out = host.args.length > 0 ? host.args[0] : "out";
var seconds = host.args.length > 1 ? parseInt(host.args[1]) : 10;
var alicePort = 17000, bobPort = 17010;  // ports are 16-bit signed in the interface

var alice = host.create();
var bob = host.create();
host.screenshot("form", out + "/loopback-idle.png");  // the form before the call (and the folder)

alice.SetUserName("Alice");
alice.SetSendFrameRate(15);
alice.SetVideoInFormat("CIF");
alice.SetBandwidth(250000, 1);
if (!alice.SetLocalIPAddress("127.0.0.1", alicePort)) throw new Error("Alice: local address refused");
alice.SetRemoteIPAddress("127.0.0.1", bobPort);

bob.SetVideoOutFormat("CIF");
bob.SetBandwidth(250000, 2);
if (!bob.SetLocalIPAddress("127.0.0.1", bobPort)) throw new Error("Bob: local address refused");
bob.SetRemoteIPAddress("127.0.0.1", alicePort);

if (!bob.RecvVideo()) throw new Error("Bob: RecvVideo failed");
var alicePeer = bob.AddClient("127.0.0.1", alicePort, out + "/loopback.avi", "Alice");
bob.ShowClient(alicePeer);
if (!alice.InitCapture(0)) throw new Error("Alice: InitCapture failed, error " + alice.GetErrorID());
if (!alice.SendVideo()) throw new Error("Alice: SendVideo failed");

host.wait(seconds * 1000);
var f = host.figures(alice);
var g = host.figures(bob);
var shot = host.screenshot("form", out + "/loopback.png");

alice.StopSend();
alice.CloseCapture();
bob.StopRecv();
bob.RemoveClientAll();  // completes the recording

host.print("frames captured:", f.captured);
host.print("frames sent:", f.sent);
host.print("datagrams received:", g.received);
host.print("frames drawn:", g.shown);
host.print("frames recorded:", g.recorded);
host.print("bit rate achieved:", Math.round(f.bytesSent * 8 / seconds), "bit/s");
host.print("screenshot:", shot);
host.print("recording:", out + "/loopback.avi");
host.exit(0);
