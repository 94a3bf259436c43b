#include "net/client_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>


namespace {

constexpr ULONG k10_1_2_3 = 0x0A010203;

std::vector<int> IDs(const ClientIDList& list) { return {list.begin(), list.end()}; }

class ClientTableTest : public ::testing::Test {
 protected:
  int Add(const char* ip = "10.1.2.3", USHORT port = 5000) {
    const int id = table.FreeID();
    if (id > 0) table.Occupy(id, ip, port, "peer");
    return id;
  }
  ClientTable table;
};

TEST_F(ClientTableTest, StartsEmptyWithNoForwardingAndPositionOne) {
  for (int id = 0; id < kClientRecords; ++id) {
    const ClientRecord& r = table[id];
    EXPECT_FALSE(r.bInUse);
    EXPECT_EQ(r.lForwardSource, -1);
    EXPECT_EQ(r.lFramesWritten, 1);
    EXPECT_EQ(r.pAviFile, nullptr);
    EXPECT_FALSE(r.recording.Attached());
  }
  EXPECT_EQ(table.SenderID(0, 0), 0);
}

TEST_F(ClientTableTest, HandsOutTheLowestFreeIDFrom1To30) {
  for (int expected = 1; expected <= 30; ++expected) ASSERT_EQ(Add(), expected);
  EXPECT_EQ(table.FreeID(), -1);
  table.Vacate(5);
  EXPECT_EQ(Add(), 5);
  table.Vacate(30);
  table.Vacate(2);
  EXPECT_EQ(Add(), 2);
  EXPECT_EQ(Add(), 30);
}

TEST_F(ClientTableTest, OnlyIDsInUseWithin0To30CanBeRemoved) {
  Add();
  EXPECT_EQ(table.InUse(0), nullptr);
  EXPECT_EQ(table.InUse(1), &table[1]);
  EXPECT_EQ(table.InUse(2), nullptr);
  EXPECT_EQ(table.InUse(31), nullptr);
  EXPECT_EQ(table.InUse(-1), nullptr);
  EXPECT_EQ(table.InUse(0x7FFFFFFF), nullptr);
}

TEST_F(ClientTableTest, OccupySetsAddressPortAndARecordingThatWaitsForAKeyFrame) {
  const int id = table.FreeID();
  table[id].lFramesWritten = 17;
  ASSERT_TRUE(table.GiveRecordingRoom(id, 176, 144));
  table[id].bRecordingStopped = TRUE;
  table.Occupy(id, "10.1.2.3", 0xFFFF, "Alice");
  const ClientRecord& r = table[id];
  EXPECT_TRUE(r.bInUse);
  EXPECT_EQ(r.ulAddress, k10_1_2_3);
  EXPECT_EQ(r.usPort, 0xFFFF);
  EXPECT_STREQ(r.szClientName, "Alice");
  EXPECT_EQ(r.lFramesWritten, 17);  // left as it was
  EXPECT_TRUE(r.recording.Attached());
  EXPECT_TRUE(r.recording.Waiting());
  EXPECT_FALSE(r.bRecordingStopped);
  EXPECT_EQ(r.nRecordWidth, 176);
  EXPECT_EQ(r.nRecordHeight, 144);
}

TEST_F(ClientTableTest, AnUnreadableOrMissingAddressMatchesNoSender) {
  table.Occupy(1, "not an address", 1, nullptr);
  EXPECT_EQ(table[1].ulAddress, 0xFFFFFFFFu);
  table.Occupy(2, nullptr, 1, nullptr);
  EXPECT_EQ(table[2].ulAddress, 0xFFFFFFFFu);
  EXPECT_EQ(table[2].szClientName[0], '\0');
}

TEST_F(ClientTableTest, LongNamesAreCutInsideTheirFields) {
  const std::string longFile(2000, 'f');
  const std::string longName(300, 'n');
  table.SetFileName(1, longFile.c_str());
  table.Occupy(1, "10.1.2.3", 1, longName.c_str());
  EXPECT_EQ(std::string(table[1].szFileName), std::string(511, 'f'));
  EXPECT_EQ(std::string(table[1].szClientName), std::string(63, 'n'));
  // The record's next field is untouched.
  EXPECT_EQ(table[1].pAviFile, nullptr);
  EXPECT_EQ(table[1].lFramesWritten, 1);
  table.SetFileName(1, "");
  EXPECT_EQ(table[1].szFileName[0], '\0');
  EXPECT_EQ(table[1].szFileName[1], '\0');
}

TEST_F(ClientTableTest, VacateKeepsAddressPortPositionAndOtherForwarding) {
  Add("10.1.2.3", 7000);  // 1
  Add("10.1.2.4", 7001);  // 2
  table.SetFileName(1, "a.avi");
  ASSERT_TRUE(table.Forward(2, 1));
  ASSERT_TRUE(table.Forward(1, 2));
  table[1].lFramesWritten = 40;
  ASSERT_TRUE(table.GiveRecordingRoom(1, 352, 288));

  table.Vacate(1);
  const ClientRecord& r = table[1];
  EXPECT_FALSE(r.bInUse);
  EXPECT_EQ(r.lForwardSource, -1);
  EXPECT_EQ(r.ulAddress, k10_1_2_3);
  EXPECT_EQ(r.usPort, 7000);
  EXPECT_EQ(r.lFramesWritten, 40);
  EXPECT_EQ(r.szFileName[0], '\0');
  EXPECT_EQ(r.szClientName[0], '\0');
  EXPECT_FALSE(r.recording.Attached());  // its room is given back
  EXPECT_EQ(r.pRecordingRoom, nullptr);
  // A forwarding that names the removed client as its source stays, for a later client 1.
  EXPECT_EQ(table[2].lForwardSource, 1);
  EXPECT_EQ(table.SenderID(k10_1_2_3, 7000), 0);
}

TEST_F(ClientTableTest, ForwardNeedsValidIDsAndADestinationInUse) {
  Add();  // 1
  Add();  // 2
  EXPECT_FALSE(table.Forward(2, 3));
  EXPECT_FALSE(table.Forward(2, 31));
  EXPECT_FALSE(table.Forward(31, 2));
  EXPECT_FALSE(table.Forward(-1, 2));
  EXPECT_FALSE(table.Forward(0, 0));  // 0 is never in use
  EXPECT_TRUE(table.Forward(2, 2));   // a client may be its own source
  EXPECT_TRUE(table.Forward(0, 1));
  EXPECT_EQ(IDs(table.ForwardDestinations(0)), std::vector<int>{1});
  EXPECT_EQ(IDs(table.ForwardDestinations(2)), std::vector<int>{2});
  EXPECT_TRUE(table.ForwardDestinations(1).nCount == 0);
}

TEST_F(ClientTableTest, TheLaterForwardToADestinationWins) {
  for (int i = 0; i < 5; ++i) Add();
  ASSERT_TRUE(table.Forward(4, 2));
  ASSERT_TRUE(table.Forward(5, 2));
  ASSERT_TRUE(table.Forward(5, 3));
  EXPECT_EQ(table.ForwardDestinations(4).nCount, 0);
  EXPECT_EQ(IDs(table.ForwardDestinations(5)), (std::vector<int>{2, 3}));
}

TEST_F(ClientTableTest, UnForwardEndsTheDestinationsForwardingWhateverItsSource) {
  Add();
  Add();
  ASSERT_TRUE(table.Forward(1, 2));
  EXPECT_TRUE(table.UnForward(7, 2));
  EXPECT_EQ(table[2].lForwardSource, -1);
  EXPECT_TRUE(table.UnForward(0, 9));  // a destination not in use is fine
  EXPECT_FALSE(table.UnForward(0, 31));
  EXPECT_FALSE(table.UnForward(-1, 2));

  ASSERT_TRUE(table.Forward(1, 1));
  ASSERT_TRUE(table.Forward(1, 2));
  table.UnForwardAll();
  for (int id = 0; id < kClientRecords; ++id) EXPECT_EQ(table[id].lForwardSource, -1);
}

TEST_F(ClientTableTest, TheSenderIsTheLowestRecordInUseWithItsAddressAndPort) {
  Add("10.1.2.3", 5000);  // 1
  Add("10.1.2.3", 5001);  // 2
  Add("10.1.2.3", 5000);  // 3, same as 1
  EXPECT_EQ(table.SenderID(k10_1_2_3, 5000), 1);
  EXPECT_EQ(table.SenderID(k10_1_2_3, 5001), 2);
  EXPECT_EQ(table.SenderID(k10_1_2_3, 5002), 0);
  EXPECT_EQ(table.SenderID(k10_1_2_3 + 1, 5000), 0);
  table.Vacate(1);
  EXPECT_EQ(table.SenderID(k10_1_2_3, 5000), 3);
}

TEST_F(ClientTableTest, RewindRecordingsTouchesOnlyClientsInUse) {
  Add();
  table[1].lFramesWritten = 9;
  table[2].lFramesWritten = 9;
  table.RewindRecordings();
  EXPECT_EQ(table[1].lFramesWritten, 0);
  EXPECT_EQ(table[2].lFramesWritten, 9);
}

}  // namespace
