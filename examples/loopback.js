// A call in one host: Alice captures the test camera and sends to 127.0.0.1 at CIF, 15 fps,
// 250 kbit/s with her name drawn in; Bob receives, shows her picture and records it.
//   quelvora-host examples/loopback.js [OUTPUT_DIR] [SECONDS] [camera]
// With "camera" Alice takes the first capture driver, a real camera when one is attached;
// otherwise the script asks for the test camera and she picks it in the capture device dialog.
var out = host.args.length > 0 ? host.args[0] : "out";
var seconds = host.args.length > 1 ? parseInt(host.args[1]) : 10;
var realCamera = host.args.length > 2 && host.args[2] === "camera";
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

var driver = "";
if (!realCamera) host.captureDrivers("v4l2,test");  // the cameras, then the test camera
host.onModal(function (info, answer) {
  if (info.title !== "Select Video Capture Device") return;
  for (var i = 0; i < info.entries.length; ++i) {
    if (info.entries[i].indexOf("Quelvora Test Camera") === 0) {
      driver = info.entries[i];
      answer.chooseEntry(i);
      break;
    }
  }
  answer.pressButton("OK");
});
var opened = realCamera ? alice.InitCapture(0) : alice.InitCapture(-1);
host.onModal(null);
if (!opened) throw new Error("Alice: InitCapture failed, error " + alice.GetErrorID());
if (!alice.SendVideo()) throw new Error("Alice: SendVideo failed");

host.wait(seconds * 1000);
var sent = host.figures(alice);
var received = host.figures(bob);
var shot = host.screenshot("form", out + "/loopback.png");

alice.StopSend();
alice.CloseCapture();
bob.StopRecv();
bob.RemoveClientAll();  // completes the recording

host.print("capture driver:", realCamera ? "driver 0" : driver);
host.print("frames captured:", sent.captured);
host.print("frames sent:", sent.sent);
host.print("datagrams received:", received.received);
host.print("frames drawn:", received.shown);
host.print("frames recorded:", received.recorded);
host.print("bit rate achieved:", Math.round(sent.bytesSent * 8 / seconds), "bit/s");
host.print("screenshot:", shot);
host.print("recording:", out + "/loopback.avi");
host.exit(0);
