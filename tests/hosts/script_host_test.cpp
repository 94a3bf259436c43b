// The script host driven in-process: what a script may do to the host object and to the
// controls on its form.
#include "hosts/quelvora-host/script_host.h"

#include <gtest/gtest.h>

#include <QJSEngine>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "hosts/quelvora-host/script_values.h"
#include "platform/module/factory.h"
#include "platform/ui/msgbox.h"

namespace {

class ScriptHostTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearRecordedMessageBoxes(); }

  // Runs a script in a host of its own; answers the host's exit code. `during` runs after the
  // script, while the host still lives.
  int Run(const std::string& source, const std::function<void()>& during = {}) {
    // A file per test: ctest runs tests side by side.
    const char* base = std::getenv("QV_TEST_TMP");
    const std::filesystem::path dir =
        std::filesystem::path(base ? base : QV_BINARY_DIR "/test-tmp") / "script_host";
    std::filesystem::create_directories(dir);
    const std::filesystem::path path =
        dir / (std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".js");
    std::ofstream(path) << source;
    QJSEngine engine;
    ScriptHost host(&engine, {});
    const int code = host.RunFile(QString::fromStdString(path.string()));
    if (during) during();
    return code;
  }
};

TEST_F(ScriptHostTest, DestroyEndsTheControlAndTheHostGoesOn) {
  const LONG before = AfxOleLockCount();
  LONG afterDestroy = -1;
  const int code = Run(R"(
    var ctrl = host.create();
    host.destroy(ctrl);
    host.wait(50);  // the host is still there
    var threw = false;
    try { ctrl.GetErrorID(); } catch (e) { threw = true; }
    if (!threw) host.exit(3);
    threw = false;
    try { host.destroy(ctrl); } catch (e) { threw = true; }
    host.exit(threw ? 0 : 4);
  )",
                       [&] { afterDestroy = AfxOleLockCount(); });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(afterDestroy, before) << "the control still lives after host.destroy";
}

TEST_F(ScriptHostTest, AControlDestroyedFromABoxInsideItsOwnCallGoesWhenTheCallReturns) {
  const LONG before = AfxOleLockCount();
  LONG afterRun = -1;
  const int code = Run(R"(
    var ctrl = host.create();
    var destroyed = false;
    host.onModal(function (box, answer) {
      if (destroyed) return;
      destroyed = true;
      host.destroy(ctrl);
      answer.pressButton("OK");
    });
    // The file cannot be opened: AddClient shows its boxes, and the first one destroys the control.
    var id = ctrl.AddClient("127.0.0.1", 4000, "/no/such/folder/x.avi", "peer");
    host.onModal(null);
    if (!destroyed || id !== 1) host.exit(3);
    host.wait(50);
    var threw = false;
    try { ctrl.RemoveClient(id); } catch (e) { threw = true; }
    host.exit(threw ? 0 : 4);
  )",
                       [&] { afterRun = AfxOleLockCount(); });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(afterRun, before);
  EXPECT_EQ(RecordedMessageBoxes().size(), 2u) << "the call went on to its second box";
}

// Whole numbers within a long are passed as longs; every other number, however large, as a fraction,
// which the control's integer parameters then refuse as an overflow.
TEST(ScriptValues, OnlyWholeNumbersWithinALongArePassedAsLongs) {
  for (const double d : {0.0, -2147483648.0, 2147483647.0}) {
    const CComVariant v = ToVariant(QJSValue(d));
    EXPECT_EQ(v.vt, VT_I4) << d;
    EXPECT_EQ(v.lVal, static_cast<LONG>(d));
  }
  for (const double d : {2147483648.0, -2147483649.0, 1e300, -1e300, 0.5, std::nan(""), HUGE_VAL})
    EXPECT_EQ(ToVariant(QJSValue(d)).vt, VT_R8) << d;
}

}  // namespace
