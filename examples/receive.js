// A control that shows and records one sender, such as a pipeline that ends in quelvorasink.
//   quelvora-host examples/receive.js [PORT] [SENDER_IP:PORT] [SECONDS] [OUT_DIR] [keep]
// Defaults: receives CIF on 127.0.0.1:17010 from 127.0.0.1:17000 for 10 seconds, records the sender
// into OUT_DIR/received.avi (default out/). With "keep" it also appends every picture it draws to
// OUT_DIR/received-drawn.bgr (bottom-up B,G,R), for qv-picture-check. Prints what it received, drew
// and recorded, and the key-frame requests it sent.
var port = host.args.length > 0 ? parseInt(host.args[0]) : 17010;
var sender = host.args.length > 1 ? host.args[1] : "127.0.0.1:17000";
var seconds = host.args.length > 2 ? parseFloat(host.args[2]) : 10;
var out = host.args.length > 3 ? host.args[3] : "out";
var keep = host.args.length > 4 && host.args[4] === "keep";
var colon = sender.lastIndexOf(":");

var ctrl = host.create();
ctrl.SetVideoOutFormat("CIF");
ctrl.SetBandwidth(250000, 2);
if (!ctrl.SetLocalIPAddress("127.0.0.1", port)) throw new Error("receive: port " + port + " refused");
var id = ctrl.AddClient(sender.substring(0, colon), parseInt(sender.substring(colon + 1)), out + "/received.avi",
                        "sender");
ctrl.ShowClient(id);
if (keep) host.keepPictures(ctrl, out + "/received-drawn.bgr");
if (!ctrl.RecvVideo()) throw new Error("receive: RecvVideo failed");
host.print("receive: ready");
host.wait(seconds * 1000);
var f = host.figures(ctrl);
ctrl.StopRecv();
ctrl.RemoveClientAll();  // completes the recording
host.print("receive: datagrams received:", f.received);
host.print("receive: pictures drawn:", f.shown);
host.print("receive: frames recorded:", f.recorded);
host.print("receive: key-frame requests:", f.keyFramesAsked);
host.exit(0);
