// The loopback call as two host processes: run one as Bob and one as Alice, in either order.
//   quelvora-host examples/call_peer.js bob   [OUTPUT_DIR] [SECONDS]
//   quelvora-host examples/call_peer.js alice [OUTPUT_DIR] [SECONDS]
// `make demo-two` starts both. Alice sends the test camera to 127.0.0.1 at CIF, 15 fps,
// 250 kbit/s with her name drawn in; Bob shows her picture and records it.
var role = host.args.length > 0 ? host.args[0] : "";
var out = host.args.length > 1 ? host.args[1] : "out";
var seconds = host.args.length > 2 ? parseInt(host.args[2]) : 10;
var alicePort = 17100, bobPort = 17110;
if (role !== "alice" && role !== "bob") throw new Error("first argument: alice or bob");

var ctrl = host.create();
host.screenshot("form", out + "/call_peer-" + role + "-idle.png");  // the form before the call
if (role === "alice") {
  ctrl.SetUserName("Alice");
  ctrl.SetSendFrameRate(15);
  ctrl.SetVideoInFormat("CIF");
  ctrl.SetBandwidth(250000, 1);
  if (!ctrl.SetLocalIPAddress("127.0.0.1", alicePort)) throw new Error("Alice: local address refused");
  ctrl.SetRemoteIPAddress("127.0.0.1", bobPort);
  host.captureDrivers("v4l2,test");  // the cameras, then the test camera
  host.onModal(function (info, answer) {
    for (var i = 0; i < info.entries.length; ++i)
      if (info.entries[i].indexOf("Quelvora Test Camera") === 0) answer.chooseEntry(i);
    answer.pressButton("OK");
  });
  if (!ctrl.InitCapture(-1)) throw new Error("Alice: InitCapture failed, error " + ctrl.GetErrorID());
  host.onModal(null);
  if (!ctrl.SendVideo()) throw new Error("Alice: SendVideo failed");
  host.wait(seconds * 1000);
  var f = host.figures(ctrl);
  ctrl.StopSend();
  ctrl.CloseCapture();
  host.print("alice: frames captured:", f.captured);
  host.print("alice: frames sent:", f.sent);
  host.print("alice: bit rate achieved:", Math.round(f.bytesSent * 8 / seconds), "bit/s");
} else {
  ctrl.SetVideoOutFormat("CIF");
  ctrl.SetBandwidth(250000, 2);
  if (!ctrl.SetLocalIPAddress("127.0.0.1", bobPort)) throw new Error("Bob: local address refused");
  ctrl.SetRemoteIPAddress("127.0.0.1", alicePort);
  if (!ctrl.RecvVideo()) throw new Error("Bob: RecvVideo failed");
  var alice = ctrl.AddClient("127.0.0.1", alicePort, out + "/call_peer.avi", "Alice");
  ctrl.ShowClient(alice);
  // Bob starts first: the picture is taken while Alice still sends, and he listens on until
  // her call has ended.
  host.wait(seconds * 1000);
  var shot = host.screenshot("form", out + "/call_peer.png");
  host.wait(1500);
  var g = host.figures(ctrl);
  ctrl.StopRecv();
  ctrl.RemoveClientAll();
  host.print("bob: datagrams received:", g.received);
  host.print("bob: frames drawn:", g.shown);
  host.print("bob: frames recorded:", g.recorded);
  host.print("bob: screenshot:", shot);
  host.print("bob: recording:", out + "/call_peer.avi");
}
host.exit(0);
