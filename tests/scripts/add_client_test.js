// Clients added from a script: null as the file name adds one that does not record, without a
// box; any text, the empty one included, is taken as a file name.
var out = host.args[0];
function check(cond, what) { if (!cond) throw new Error("failed: " + what); }

var ctrl = host.create();
host.clearMessageBoxes();
check(ctrl.AddClient("127.0.0.1", 17000, null, "Ann") === 1, "first client");
check(host.messageBoxes().length === 0, "no recording attempted for null");
var f = host.figures(ctrl);
check(f.clients.length === 1 && f.clients[0].name === "Ann", "client listed");

check(ctrl.AddClient("127.0.0.1", 17002, "", "Ben") === 2, "second client");
var boxes = host.messageBoxes();
check(boxes.length === 2 && boxes[1].text === "AVI_FileOpenWrite failed", "the empty text names a file");

check(ctrl.AddClient("127.0.0.1", 17004, out + "/add_client_test.avi", null) === 3, "null name");
ctrl.RemoveClientAll();
check(ctrl.AddClient("127.0.0.1", 17006, null, null) === 1, "all removed");
host.destroy(ctrl);
host.exit(0);
