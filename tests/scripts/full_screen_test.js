// A script opens the full-screen view over a received camera, looks at it and ends it: Enter
// leaves it open, ESC closes it.
var out = host.args[0];
function check(cond, what) { if (!cond) throw new Error("failed: " + what); }

var rx = host.create();
var tx = host.create();
rx.SetBandwidth(250000, 2);
var port = 0;
for (var p = 22000 + Math.floor(Math.random() * 2000) * 4; p < 32760 && port === 0; p += 4)
  if (rx.SetLocalIPAddress("127.0.0.1", p)) port = p;
check(port !== 0, "a receive port");
tx.SetBandwidth(250000, 1);
check(tx.SetLocalIPAddress("127.0.0.1", port + 2), "the sender's port");
tx.SetRemoteIPAddress("127.0.0.1", port);
check(rx.RecvVideo(), "receiving");
var opened = false;
for (var d = 0; d < 10 && !opened; ++d) opened = tx.InitCapture(d);
check(opened, "a capture driver");
check(tx.SendVideo(), "sending");

var views = 0, shownInView = 0, openAfterEnter = false, shot = "";
host.onModal(function (info, answer) {
  if (info.kind !== "view") return;
  ++views;
  var before = host.figures(rx).shown;
  host.wait(1500);
  shownInView = host.figures(rx).shown - before;
  shot = host.screenshot("modal", out + "/full_screen_test.png");
  answer.sendKey(13);
  openAfterEnter = !answer.closed();
  answer.sendKey(27);
});
rx.ShowFullScreen();
check(views === 1, "one view opened");
check(shownInView > 5, "pictures drawn while the view was open: " + shownInView);
check(shot !== "", "a screenshot of the view");
check(openAfterEnter, "Enter leaves the view open");

var threw = false;
try { host.screenshot("modal", out + "/none.png"); } catch (e) { threw = true; }
check(threw, "no modal window once the view closed");

check(tx.StopSend(), "stopped sending");
tx.CloseCapture();
check(rx.StopRecv(), "stopped receiving");
host.destroy(tx);
host.destroy(rx);
host.exit(0);
