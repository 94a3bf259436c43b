// How soon a receiver shows a sender it switches to mid-stream, on loopback: Alice sends her camera
// (CIF, 15 fps, 250 kbit/s: a periodic key frame every 2 s) to Bob, who switches to her with
// ShowClient, waits for her first picture, switches away, and again, at uneven moments. Without
// key-frame requests each wait would last until her next periodic key frame (1 s on average).
//   quelvora-host --offscreen bench/join.js [SWITCHES]
var switches = host.args.length > 0 ? parseInt(host.args[0]) : 20;
var alicePort = 17400, bobPort = 17410;
var alice = host.create(), bob = host.create();
bob.SetVideoOutFormat("CIF");
bob.SetBandwidth(250000, 2);
if (!bob.SetLocalIPAddress("127.0.0.1", bobPort)) throw new Error("Bob: local address refused");
if (!bob.RecvVideo()) throw new Error("Bob: RecvVideo failed");
var id = bob.AddClient("127.0.0.1", alicePort, null, "Alice");
alice.SetVideoInFormat("CIF");
alice.SetBandwidth(250000, 1);
if (!alice.SetLocalIPAddress("127.0.0.1", alicePort)) throw new Error("Alice: local address refused");
alice.SetRemoteIPAddress("127.0.0.1", bobPort);
if (!alice.InitCapture(0) || !alice.SendVideo()) throw new Error("Alice: cannot send");
host.wait(1500);

var joins = [], missed = 0, seed = 7;
function uneven() { seed = (seed * 1103515245 + 12345) % 2147483648; return 300 + seed % 1200; }
for (var i = 0; i < switches; ++i) {
  bob.ShowClient(0);  // nobody: Alice is client 1
  host.wait(uneven());
  var before = host.figures(bob).shown, start = Date.now();
  bob.ShowClient(id);
  while (host.figures(bob).shown === before && Date.now() - start < 3000) host.wait(2);
  if (host.figures(bob).shown === before) ++missed;
  else joins.push(Date.now() - start);
}
var fa = host.figures(alice), fb = host.figures(bob);
alice.StopSend();
alice.CloseCapture();
bob.StopRecv();
joins.sort(function (a, b) { return a - b; });
host.print("join: switches", switches, "pictures", joins.length, "missed", missed);
host.print("join: first picture after ShowClient ms: p50", joins[Math.floor(joins.length / 2)],
           "p90", joins[Math.floor(joins.length * 9 / 10)], "max", joins[joins.length - 1]);
host.print("join: key frames asked", fb.keyFramesAsked, "made for requests", fa.keyFramesAnswered);
host.exit(0);
