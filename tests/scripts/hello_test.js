// The first example's steps, checked: error ID, the Chinese box bytes, the idle picture.
var out = host.args[0];
function check(cond, what) { if (!cond) throw new Error("failed: " + what); }

var ctrl = host.create();
check(ctrl.GetErrorID() === 0, "new control has no error");
check(ctrl.SetLanguageVersion(1) === true, "Chinese accepted");
check(ctrl.StopSend() === false, "StopSend refused");
check(ctrl.GetErrorID() === 8, "error 8");
host.clearMessageBoxes();
ctrl.GetErrorMessage(8);
var b = host.messageBoxes();
check(b.length === 1, "one box");
check(b[0].text === "没有开始发送视频!", "Chinese text: " + b[0].text);
check(b[0].textHex === "c3 bb d3 d0 bf aa ca bc b7 a2 cb cd ca d3 c6 b5 21", "GB2312 bytes: " + b[0].textHex);
check(b[0].caption === "错误" && b[0].icon === "error" && b[0].buttons === "OK", "caption, icon, buttons");

var threw = false;
try { ctrl.SetSendFrameRate(70000); } catch (e) { threw = true; }
check(threw, "a number that does not fit a short is an error");
threw = false;
try { ctrl.SetLanguageVersion(); } catch (e) { threw = true; }
check(threw, "a missing argument is an error");

host.wait(50);
host.screenshot(ctrl, out + "/hello_test.png");
host.destroy(ctrl);
host.exit(0);
