// One side of a loopback call, printing its count every 100 ms:
//   quelvora-host peer.js send PORT SECONDS   sends the test camera to PORT from PORT + 2, then ends
//   quelvora-host peer.js receive PORT        receives on PORT until the process is killed
var role = host.args[0], port = parseInt(host.args[1]);
function check(cond, what) { if (!cond) throw new Error("failed: " + what); }
var c = host.create();
if (role === "send") {
  var seconds = parseInt(host.args[2]);
  c.SetBandwidth(250000, 1);
  check(c.SetLocalIPAddress("127.0.0.1", port + 2), "the sender's port");
  c.SetRemoteIPAddress("127.0.0.1", port);
  var opened = false;
  for (var d = 0; d < 10 && !opened; ++d) opened = c.InitCapture(d);
  check(opened, "a capture driver");
  check(c.SendVideo(), "sending");
  for (var t = 0; t < seconds * 10; ++t) {
    host.wait(100);
    host.print("sent", host.figures(c).sent);
  }
  check(c.StopSend(), "stopped sending");
  c.CloseCapture();
  host.print("done");
} else {
  c.SetBandwidth(250000, 2);
  check(c.SetLocalIPAddress("127.0.0.1", port), "the receive port");
  check(c.RecvVideo(), "receiving");
  for (;;) {
    host.wait(100);
    host.print("received", host.figures(c).received);
  }
}
host.exit(0);
