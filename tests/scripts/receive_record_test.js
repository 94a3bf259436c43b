// Two controls on one form: one sends its camera, the other receives, shows and records it.
var out = host.args[0];
function check(cond, what) { if (!cond) throw new Error("failed: " + what); }

var rx = host.create();
var tx = host.create();

// A receive port that this host can bind, and the sender's own port beside it (ports are signed
// 16-bit arguments, so they stay below 32768 here).
rx.SetBandwidth(250000, 2);
var port = 0;
for (var p = 20000 + Math.floor(Math.random() * 2000) * 4; p < 32760 && port === 0; p += 4)
  if (rx.SetLocalIPAddress("127.0.0.1", p)) port = p;
check(port !== 0, "a receive port");
tx.SetBandwidth(250000, 1);
check(tx.SetLocalIPAddress("127.0.0.1", port + 2), "the sender's port");
tx.SetRemoteIPAddress("127.0.0.1", port);

var file = out + "/receive_record_test.avi";
check(rx.AddClient("127.0.0.1", port + 2, file, "camera") === 1, "client 1");
check(rx.ShowClient(1), "shown");
check(rx.RecvVideo(), "receiving");

var opened = false;
for (var d = 0; d < 10 && !opened; ++d) opened = tx.InitCapture(d);
check(opened, "a capture driver");
check(tx.SendVideo(), "sending");
host.wait(3000);
host.screenshot(rx, out + "/receive_record_test.png");
check(rx.StopRecv(), "stopped receiving");
var clients = host.figures(rx).clients;  // read while client 1 is still in the table
check(rx.RemoveClient(1), "recording closed");
check(tx.StopSend(), "stopped sending");
tx.CloseCapture();

var sent = host.figures(tx), got = host.figures(rx);
host.print("sent", sent.sent, "frames; received", got.received, "datagrams; shown", got.shown,
           "recorded", got.recorded);
check(sent.sent > 10, "frames sent");
check(got.received > 0, "datagrams received");
check(got.shown > 10, "pictures shown");
check(got.recorded > 10, "frames recorded");
// The per-client figures: the one client is the sender, and every frame recorded was its.
check(clients.length === 1 && clients[0].id === 1 && clients[0].name === "camera", "client figures");
check(clients[0].recorded === got.recorded, "frames recorded of client 1");
check(clients[0].received > 0 && clients[0].received <= got.received, "datagrams of client 1");
host.destroy(tx);
host.destroy(rx);
host.exit(0);
