// A first script: one control, Chinese texts, an error message, and a picture of the idle control.
//   quelvora-host examples/hello.js [OUTPUT_DIR]
var out = host.args.length > 0 ? host.args[0] : "out";
var ctrl = host.create();

ctrl.SetLanguageVersion(1);              // Chinese
ctrl.StopSend();                         // refused: nothing is being sent
var id = ctrl.GetErrorID();
host.print("error ID after StopSend:", id);

ctrl.GetErrorMessage(id);                // shows the Chinese message for that ID
var boxes = host.messageBoxes();
host.print("message box:", boxes[0].caption, "-", boxes[0].text);

host.wait(100);                          // let the control paint
host.print("screenshot:", host.screenshot(ctrl, out + "/hello.png"));
host.exit(0);
