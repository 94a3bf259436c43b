// Records the test camera sent over loopback, printing the frames recorded so far every 100 ms,
// until the process is killed: quelvora-host record_until_killed.js FILE PORT
var file = host.args[0], port = parseInt(host.args[1]);
function check(cond, what) { if (!cond) throw new Error("failed: " + what); }
var rx = host.create();
var tx = host.create();
rx.SetBandwidth(250000, 2);
check(rx.SetLocalIPAddress("127.0.0.1", port), "the receive port");
tx.SetBandwidth(250000, 1);
check(tx.SetLocalIPAddress("127.0.0.1", port + 2), "the sender's port");
tx.SetRemoteIPAddress("127.0.0.1", port);
check(rx.AddClient("127.0.0.1", port + 2, file, "camera") === 1, "client 1");
check(rx.ShowClient(1), "shown");
check(rx.RecvVideo(), "receiving");
var opened = false;
for (var d = 0; d < 10 && !opened; ++d) opened = tx.InitCapture(d);
check(opened, "a capture driver");
check(tx.SendVideo(), "sending");
for (;;) {
  host.wait(100);
  host.print("recorded", host.figures(rx).recorded);
}
