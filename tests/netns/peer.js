// One participant of a call across hosts; the drivers beside it start one per network namespace.
//   quelvora-host --offscreen peer.js OUT NAME SECONDS [OPTION ...]
// Options:
//   send=IP:PORT>IP:PORT   capture the test camera and send it from the first address to the second
//   recv=IP:PORT           receive on this address; a 224.0.0.0/4 group is joined
//   peer=LABEL@IP:PORT     a client told apart by ID, recorded to OUT/NAME-LABEL.avi; the peers are
//                          shown in turn, an equal share of the call each
//   sink=LABEL@IP:PORT     a client that is not shown, a destination for forward= (a script cannot pass
//                          the null text that adds a client without a recording, so it records
//                          into OUT/NAME-LABEL.avi what the client itself sends: nothing here)
//   forward=LABEL>LABEL    relay the first client's datagrams to the second
//   samesocket             sending and receiving share the receive socket (address learning)
//   announce=IP:PORT/N     once receiving, SendFakeVideo(N) to that address from the receive port
//   wait=SECONDS           listen this long before announcing (default 2)
//   keep                   keep every picture drawn in OUT/NAME-drawn.bgr (bottom-up B,G,R, CIF),
//                          for qv-picture-check
// A receiver writes OUT/NAME-shows-LABEL.png of each peer while it is shown.
// The receiver prints "NAME: ready" once its socket is open, and at the end one line per peer with
// the datagrams received, frames recorded and pictures drawn while it was shown, the freezes of the
// drawn pictures (stretches longer than four frame intervals in which datagrams of the shown peer
// arrive and no picture is drawn), the stalls (every stretch between two pictures longer than one
// and a half frame intervals, which is how long the picture stood after a loss) and the join time
// (from the first datagram of its share, or the switch to it, to its first picture).
var out = host.args[0], me = host.args[1], seconds = parseFloat(host.args[2]);
var frameRate = 15, bandwidth = 250000;
var opts = {send: null, recv: null, peers: [], sinks: [], forwards: [], same: false, announce: null, wait: 2,
            keep: false};
for (var i = 3; i < host.args.length; ++i) {
  var a = host.args[i], eq = a.indexOf("="), key = eq < 0 ? a : a.substring(0, eq), val = a.substring(eq + 1);
  if (key === "send") opts.send = val.split(">").map(parseAddress);
  else if (key === "recv") opts.recv = parseAddress(val);
  else if (key === "peer" || key === "sink") {
    var at = val.indexOf("@");
    (key === "peer" ? opts.peers : opts.sinks).push({label: val.substring(0, at), addr: parseAddress(val.substring(at + 1))});
  } else if (key === "forward") opts.forwards.push(val.split(">"));
  else if (key === "samesocket") opts.same = true;
  else if (key === "announce") {
    var slash = val.indexOf("/");
    opts.announce = {addr: parseAddress(val.substring(0, slash)), count: parseInt(val.substring(slash + 1))};
  } else if (key === "wait") opts.wait = parseFloat(val);
  else if (key === "keep") opts.keep = true;
  else throw new Error(me + ": unknown option " + a);
}

function parseAddress(text) {
  var colon = text.lastIndexOf(":");
  return {ip: text.substring(0, colon), port: parseInt(text.substring(colon + 1))};
}
function check(cond, what) { if (!cond) throw new Error(me + ": " + what); }
function print() { host.print(me + ": " + Array.prototype.slice.call(arguments).join(" ")); }

var tx = null, rx = null, ids = {};

if (opts.recv) {
  rx = host.create();
  rx.SetVideoOutFormat("CIF");
  rx.SetBandwidth(bandwidth, 2);
  if (opts.same) rx.UseSameSocketForSendAndRecv(1);
  check(rx.SetLocalIPAddress(opts.recv.ip, opts.recv.port), "receive address " + opts.recv.ip + ":" + opts.recv.port + " refused");
  opts.peers.forEach(function (p) {
    ids[p.label] = rx.AddClient(p.addr.ip, p.addr.port, out + "/" + me + "-" + p.label + ".avi", p.label);
    check(ids[p.label] > 0, "AddClient " + p.label);
  });
  opts.sinks.forEach(function (p) {
    ids[p.label] = rx.AddClient(p.addr.ip, p.addr.port, out + "/" + me + "-" + p.label + ".avi", p.label);
    check(ids[p.label] > 0, "AddClient " + p.label);
  });
  opts.forwards.forEach(function (f) { check(rx.Forward(ids[f[0]], ids[f[1]]), "Forward " + f.join(">")); });
  if (opts.peers.length > 0) rx.ShowClient(ids[opts.peers[0].label]);
  if (opts.keep) host.keepPictures(rx, out + "/" + me + "-drawn.bgr");
  check(rx.RecvVideo(), "RecvVideo failed, error " + rx.GetErrorID());
  print("ready");
}

if (opts.send) {
  tx = host.create();
  tx.SetUserName(me.split(".")[0]);  // "ann.tx" is Ann's sending process
  tx.SetSendFrameRate(frameRate);
  tx.SetVideoInFormat("CIF");
  tx.SetBandwidth(bandwidth, 1);
  if (opts.same) tx.UseSameSocketForSendAndRecv(1);
  check(tx.SetLocalIPAddress(opts.send[0].ip, opts.send[0].port), "send address refused");
  tx.SetRemoteIPAddress(opts.send[1].ip, opts.send[1].port);
  check(tx.InitCapture(0), "InitCapture failed, error " + tx.GetErrorID());
  check(tx.SendVideo(), "SendVideo failed, error " + tx.GetErrorID());
  print("sending to", opts.send[1].ip + ":" + opts.send[1].port);
}

if (opts.announce) {
  // The announcing side: its send side points at the peer, and the burst leaves from the receive
  // port when the socket is shared; nothing may arrive before it.
  check(rx !== null, "announce needs recv=");
  rx.SetBandwidth(bandwidth, 1);
  rx.SetRemoteIPAddress(opts.announce.addr.ip, opts.announce.addr.port);
  rx.SetBandwidth(bandwidth, 2);
  host.wait(opts.wait * 1000);
  var before = host.figures(rx);
  print("before announcing: datagrams received", before.received, "pictures drawn", before.shown);
  check(before.received === 0, "datagrams arrived before the announcement");
  check(rx.SendFakeVideo(opts.announce.count), "SendFakeVideo failed");
  print("announced with", opts.announce.count, "fake video packets");
}

// The call: poll the drawn count often enough to time each picture to a few milliseconds.
var start = Date.now(), end = start + seconds * 1000;
var slots = Math.max(opts.peers.length, 1), slotMs = seconds * 1000 / slots;
var draws = [], shownAt = [], lastShown = 0, slot = 0, shot = [], switchedAt = [start];
// Per share: when the shown peer's first and last datagrams of the share arrived, so that the time
// it stays frozen at the start of the call and at the end of its share counts too.
var firstDatagram = [], lastDatagram = [], lastReceived = 0;
function receivedOf(fig, label) {
  for (var n = 0; n < fig.clients.length; ++n) if (fig.clients[n].id === ids[label]) return fig.clients[n].received;
  return 0;
}
while (Date.now() < end) {
  host.wait(5);
  if (rx === null) continue;
  var now = Date.now();
  var s = Math.min(Math.floor((now - start) / slotMs), slots - 1);
  if (s !== slot) {
    shownAt[slot] = host.figures(rx).shown;
    slot = s;
    switchedAt[slot] = now;
    rx.ShowClient(ids[opts.peers[slot].label]);
  }
  if (!shot[slot] && opts.peers.length > 0 && now - start > (slot + 0.8) * slotMs) {
    // What a user sees of this peer, late in its share, when a key frame has surely arrived.
    shot[slot] = host.screenshot(rx, out + "/" + me + "-shows-" + opts.peers[slot].label + ".png");
  }
  var fig = host.figures(rx);
  if (opts.peers.length > 0) {
    var received = receivedOf(fig, opts.peers[slot].label);
    if (received !== lastReceived) {
      if (firstDatagram[slot] === undefined) firstDatagram[slot] = now;
      lastDatagram[slot] = now;
      lastReceived = received;
    }
  }
  if (fig.shown !== lastShown) {
    draws.push({t: now, slot: slot});
    lastShown = fig.shown;
  }
}

// Frozen stretches of one peer's share longer than limitMs: from its first datagram to the first
// picture (the first share only: a later share starts by waiting for the peer's next key frame),
// between two pictures, and from the last picture to its last datagram.
function freezesOf(share, limitMs) {
  var times = draws.filter(function (d) { return d.slot === share; }).map(function (d) { return d.t; });
  var gaps = [];
  if (firstDatagram[share] === undefined) return gaps;
  if (times.length === 0) {
    if (lastDatagram[share] - firstDatagram[share] > limitMs) gaps.push(lastDatagram[share] - firstDatagram[share]);
    return gaps;
  }
  if (share === 0 && times[0] - firstDatagram[share] > limitMs) gaps.push(times[0] - firstDatagram[share]);
  for (var d = 1; d < times.length; ++d)
    if (times[d] - times[d - 1] > limitMs) gaps.push(times[d] - times[d - 1]);
  if (lastDatagram[share] - times[times.length - 1] > limitMs) gaps.push(lastDatagram[share] - times[times.length - 1]);
  return gaps;
}

// Every stretch between two pictures of one share longer than limitMs.
function stallsOf(share, limitMs) {
  var times = draws.filter(function (d) { return d.slot === share; }).map(function (d) { return d.t; });
  var gaps = [];
  for (var d = 1; d < times.length; ++d)
    if (times[d] - times[d - 1] > limitMs) gaps.push(times[d] - times[d - 1]);
  return gaps;
}

// From the share's first datagram (or the switch to it, when its datagrams already flowed) to its
// first picture; -1 when it had none.
function joinOf(share) {
  var times = draws.filter(function (d) { return d.slot === share; }).map(function (d) { return d.t; });
  if (times.length === 0 || firstDatagram[share] === undefined) return -1;
  return times[0] - Math.max(firstDatagram[share], switchedAt[share] || start);
}

function median(sorted) { return sorted.length ? sorted[Math.floor(sorted.length / 2)] : 0; }

var fTx = tx ? host.figures(tx) : null;
if (tx) {
  tx.StopSend();
  tx.CloseCapture();
  print("frames captured", fTx.captured, "frames sent", fTx.sent, "bit rate",
        Math.round(fTx.bytesSent * 8 / seconds), "bit/s", "key_frames_answered", fTx.keyFramesAnswered);
}
if (rx) {
  shownAt[slot] = host.figures(rx).shown;
  var f = host.figures(rx);
  rx.StopRecv();
  print("datagrams received", f.received, "pictures drawn", f.shown, "frames recorded", f.recorded,
        "frames refused", f.refused, "key_frames_asked", f.keyFramesAsked);
  var freezeMs = 4 * 1000 / frameRate;
  for (var k = 0; k < f.clients.length; ++k) {
    var c = f.clients[k], pi = -1;
    for (var j = 0; j < opts.peers.length; ++j) if (opts.peers[j].label === c.name) pi = j;
    var line = ["peer", c.name, "id", c.id, "datagrams", c.received, "recorded", c.recorded];
    if (pi >= 0) {
      var gaps = freezesOf(pi, freezeMs);
      gaps.sort(function (x, y) { return x - y; });
      var total = gaps.reduce(function (x, y) { return x + y; }, 0);
      var stalls = stallsOf(pi, 1.5 * 1000 / frameRate);
      stalls.sort(function (x, y) { return x - y; });
      line = line.concat(["drawn", shownAt[pi] - (pi > 0 ? shownAt[pi - 1] : 0), "freezes", gaps.length,
                          "frozen_ms", total, "longest_ms", gaps.length ? gaps[gaps.length - 1] : 0,
                          "median_ms", median(gaps), "stalls", stalls.length, "stall_median_ms", median(stalls),
                          "stall_longest_ms", stalls.length ? stalls[stalls.length - 1] : 0,
                          "join_ms", joinOf(pi)]);
      if (gaps.length) print("freezes of", c.name, "ms:", gaps.join(" "));
      if (stalls.length) print("stalls of", c.name, "ms:", stalls.join(" "));
    }
    print.apply(null, line);
  }
  rx.RemoveClientAll();  // completes the recordings
}
host.exit(0);
