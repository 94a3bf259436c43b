// The capture device dialog, answered through the modal hook as a user would.
#include "capture/device_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/ui/modal.h"

namespace {

// The drivers the fake capture library reports; an empty name is a missing index.
struct FakeDriver {
  std::string name;
  std::string version;
};
std::vector<FakeDriver> g_drivers;

BOOL DescribeFakeDriver(WORD index, LPSTR name, INT nameLength, LPSTR version, INT versionLength) {
  if (index >= g_drivers.size() || g_drivers[index].name.empty()) return FALSE;
  std::strncpy(name, g_drivers[index].name.c_str(), static_cast<size_t>(nameLength));
  std::strncpy(version, g_drivers[index].version.c_str(), static_cast<size_t>(versionLength));
  return TRUE;
}

struct DialogRun {
  ModalInfo info;
  int selected = -1;
};

// Runs a fresh dialog over `drivers`; `answer` plays the user.
DialogRun RunDialog(std::vector<FakeDriver> drivers, const std::function<void(ModalAnswer&)>& answer) {
  g_drivers = std::move(drivers);
  DialogRun run;
  SetModalHook([&](const ModalInfo& info, ModalAnswer& a) {
    run.info = info;
    answer(a);
  });
  CSelectDeviceDlg dlg(&DescribeFakeDriver);
  dlg.DoModal();
  SetModalHook({});
  run.selected = dlg.m_nSelectedDevice;
  return run;
}

TEST(DeviceDialogTest, ListsNameAndVersionAndOkWithTheEntryReturnsIt) {
  const DialogRun run = RunDialog({{"Cam A", "Version: 1.0"}}, [](ModalAnswer& a) {
    EXPECT_TRUE(a.ChooseEntry(0));
    EXPECT_TRUE(a.PressButton("OK"));
  });
  EXPECT_EQ(run.info.kind, "dialog");
  EXPECT_EQ(run.info.title, "Select Video Capture Device");
  EXPECT_EQ(run.info.texts, std::vector<std::string>{"Video Capture Device:"});
  EXPECT_EQ(run.info.buttons, (std::vector<std::string>{"OK", "Cancel"}));
  EXPECT_EQ(run.info.entries, std::vector<std::string>{"Cam A Version: 1.0"});
  EXPECT_EQ(run.selected, 0);
}

TEST(DeviceDialogTest, TheSecondOfTwoDriversChosenGivesOne) {
  const DialogRun run = RunDialog({{"Cam A", "1"}, {"Cam B", "2"}}, [](ModalAnswer& a) {
    a.ChooseEntry(1);
    a.PressButton("OK");
  });
  EXPECT_EQ(run.info.entries, (std::vector<std::string>{"Cam A 1", "Cam B 2"}));
  EXPECT_EQ(run.selected, 1);
}

TEST(DeviceDialogTest, CancelEnterWithoutChoiceAndAnEmptyListAllLeaveZero) {
  EXPECT_EQ(RunDialog({{"Cam A", "1"}, {"Cam B", "2"}},
                      [](ModalAnswer& a) {
                        a.ChooseEntry(1);
                        a.PressButton("Cancel");
                      })
                .selected,
            0);
  EXPECT_EQ(RunDialog({{"Cam A", "1"}, {"Cam B", "2"}}, [](ModalAnswer& a) { a.SendKey(27); }).selected, 0);
  // Nothing is selected when the dialog opens; Enter presses OK.
  EXPECT_EQ(RunDialog({{"Cam A", "1"}, {"Cam B", "2"}}, [](ModalAnswer& a) { a.SendKey(13); }).selected, 0);
  const DialogRun empty = RunDialog({}, [](ModalAnswer& a) { a.PressButton("OK"); });
  EXPECT_TRUE(empty.info.entries.empty());
  EXPECT_EQ(empty.selected, 0);
}

TEST(DeviceDialogTest, TextTypedIntoTheEditFieldIsNoChoice) {
  const DialogRun run = RunDialog({{"Cam A", "1"}, {"Cam B", "2"}}, [](ModalAnswer& a) {
    a.ChooseEntry(1);
    auto* combo = QApplication::activeModalWidget()->findChild<QComboBox*>();
    ASSERT_NE(combo, nullptr);
    EXPECT_TRUE(combo->isEditable());
    combo->setEditText("no such camera");
    a.PressButton("OK");
  });
  EXPECT_EQ(run.selected, 0);
}

TEST(DeviceDialogTest, ADriverAboveAMissingIndexIsListedAndChosenByItsIndex) {
  const DialogRun run = RunDialog({{"", ""}, {"", ""}, {"Cam C", "3"}, {"Cam D", "4"}}, [](ModalAnswer& a) {
    a.ChooseEntry(1);
    a.PressButton("OK");
  });
  EXPECT_EQ(run.info.entries, (std::vector<std::string>{"Cam C 3", "Cam D 4"}));
  EXPECT_EQ(run.selected, 3);
}

TEST(DeviceDialogTest, DescriptionsFillingTheirBuffersAreCutAt79Bytes) {
  const DialogRun run = RunDialog({{std::string(100, 'n'), std::string(100, 'v')}},
                                  [](ModalAnswer& a) { a.PressButton("OK"); });
  ASSERT_EQ(run.info.entries.size(), 1u);
  EXPECT_EQ(run.info.entries[0], std::string(79, 'n') + " " + std::string(79, 'v'));
}

TEST(DeviceDialogTest, EachDialogStartsAtZero) {
  RunDialog({{"Cam A", "1"}, {"Cam B", "2"}}, [](ModalAnswer& a) {
    a.ChooseEntry(1);
    a.PressButton("OK");
  });
  EXPECT_EQ(
      RunDialog({{"Cam A", "1"}, {"Cam B", "2"}}, [](ModalAnswer& a) { a.PressButton("Cancel"); }).selected,
      0);
}

}  // namespace
