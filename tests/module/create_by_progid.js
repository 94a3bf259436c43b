// The control created by ProgID from its registered module, beside the control built into the
// host: both answer through their dispatch interface, and the module's boxes and dialogs are the
// host's.
var out = host.args[0];
function check(cond, what) { if (!cond) throw new Error("failed: " + what); }

var ctrl = host.create("QUELVORA.QuelvoraCtrl.1");
check(typeof ctrl.AboutBox === "function" && typeof ctrl.UseSameSocketForSendAndRecv === "function",
      "the type library's methods");
check(ctrl.GetErrorID() === 0, "new control has no error");
check(ctrl.SetSendFrameRate(30) === true && ctrl.SetSendFrameRate(31) === false, "frame rate range");
check(ctrl.SendVideo() === false && ctrl.GetErrorID() === 4, "SendVideo refused without capture");
check(ctrl.AddClient("127.0.0.1", 5000, "", "peer") === 1, "first client slot");

var builtIn = host.create();
check(builtIn.GetErrorID() === 0, "the built-in control has its own state");

host.clearMessageBoxes();
ctrl.GetErrorMessage(4);
var boxes = host.messageBoxes();
check(boxes.length === 1 && boxes[0].icon === "error", "the module's box is recorded by the host");

// The module's dialogs run in the host's modal loop and reach the host's modal hook.
var about = null;
host.onModal(function (info, answer) { about = info.title; answer.pressButton("OK"); });
ctrl.AboutBox();
host.onModal(null);
check(about === "About Oskavelle ActiveX Control", "the module's About box: " + about);

var threw = false;
try { ctrl.SetLanguageVersion(); } catch (e) { threw = true; }
check(threw, "a missing argument is a script error");
threw = false;
try { host.create("QUELVORA.NoSuchCtrl.1"); } catch (e) { threw = true; }
check(threw, "an unregistered ProgID");

host.wait(50);
host.screenshot(ctrl, out + "/create_by_progid.png");
host.destroy(ctrl);
host.destroy(builtIn);
host.exit(0);
