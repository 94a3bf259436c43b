// A control that sends the test camera, for a GStreamer pipeline with quelvorasrc to receive.
//   quelvora-host examples/send_camera.js [TO_IP:PORT] [SECONDS] [NAME] [FROM_PORT]
// Defaults: 127.0.0.1:17010, 10 seconds, "Alice", from port 17000. CIF, 15 fps, 250 kbit/s, the name
// drawn in; a key frame for every request a receiver sends (at most two a second). Prints the frames
// sent and the key frames made for requests.
var to = host.args.length > 0 ? host.args[0] : "127.0.0.1:17010";
var seconds = host.args.length > 1 ? parseFloat(host.args[1]) : 10;
var name = host.args.length > 2 ? host.args[2] : "Alice";
var fromPort = host.args.length > 3 ? parseInt(host.args[3]) : 17000;
var colon = to.lastIndexOf(":");

host.captureDrivers("v4l2,test");  // the cameras, then the test camera
var ctrl = host.create();
ctrl.SetUserName(name);
ctrl.SetSendFrameRate(15);
ctrl.SetVideoInFormat("CIF");
ctrl.SetBandwidth(250000, 1);
if (!ctrl.SetLocalIPAddress("0.0.0.0", fromPort)) throw new Error("send_camera: port " + fromPort + " refused");
ctrl.SetRemoteIPAddress(to.substring(0, colon), parseInt(to.substring(colon + 1)));
host.onModal(function (info, answer) {
  for (var i = 0; i < info.entries.length; ++i)
    if (info.entries[i].indexOf("Quelvora Test Camera") === 0) answer.chooseEntry(i);
  answer.pressButton("OK");
});
if (!ctrl.InitCapture(-1)) throw new Error("send_camera: InitCapture failed, error " + ctrl.GetErrorID());
host.onModal(null);
if (!ctrl.SendVideo()) throw new Error("send_camera: SendVideo failed");
host.wait(seconds * 1000);
var f = host.figures(ctrl);
ctrl.StopSend();
ctrl.CloseCapture();
host.print("send_camera: frames sent:", f.sent);
host.print("send_camera: key frames for requests:", f.keyFramesAnswered);
host.exit(0);
