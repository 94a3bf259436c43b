#include "platform/com/dispatch.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "platform/kernel/codepage.h"

namespace {

// A small object with the kinds of methods a control exposes.
class CFakeCamera {
 public:
  BOOL Open() { return ++m_nOpens == 1; }
  BOOL Connect(short sDevice) {
    m_sDevice = sDevice;
    return sDevice >= 0;
  }
  void SetName(LPCTSTR szName) { m_strName = szName; }
  short GetLastError() { return m_sLast; }
  long AddPeer(LPCTSTR szIP, short usPort, LPCTSTR szFile, LPCTSTR szName) {
    m_strPeer =
        std::string(szIP) + ":" + std::to_string(usPort) + " " + (szFile ? szFile : "(null)") + " " + szName;
    return 7;
  }
  void SetRate(long lRate, long lSide) {
    m_lRate = lRate;
    m_lSide = lSide;
  }
  LONG Negative() const { return -1; }
  BOOL Fail() { throw std::runtime_error("camera on fire"); }
  long Huge() { return 1L << 40; }
  void AboutBox() { ++m_nAbout; }

  int m_nOpens = 0;
  short m_sDevice = 99;
  std::string m_strName;
  short m_sLast = 4;
  std::string m_strPeer;
  long m_lRate = 0;
  long m_lSide = 0;
  int m_nAbout = 0;
};

constexpr DispatchEntry kCameraMap[] = {
    {1, "Open", {}, VT_BOOL, &Bind<&CFakeCamera::Open>},
    {2, "Connect", {VT_I2}, VT_BOOL, &Bind<&CFakeCamera::Connect>},
    {3, "SetName", {VT_BSTR}, VT_EMPTY, &Bind<&CFakeCamera::SetName>},
    {4, "GetLastError", {}, VT_I2, &Bind<&CFakeCamera::GetLastError>},
    {5, "AddPeer", {VT_BSTR, VT_I2, VT_BSTR, VT_BSTR}, VT_I4, &Bind<&CFakeCamera::AddPeer>},
    {6, "SetRate", {VT_I4, VT_I4}, VT_EMPTY, &Bind<&CFakeCamera::SetRate>},
    {7, "Negative", {}, VT_I4, &Bind<&CFakeCamera::Negative>},
    {8, "Fail", {}, VT_BOOL, &Bind<&CFakeCamera::Fail>},
    {9, "Huge", {}, VT_I4, &Bind<&CFakeCamera::Huge>},
    {DISPID_ABOUTBOX, "AboutBox", {}, VT_EMPTY, &Bind<&CFakeCamera::AboutBox>},
};
static_assert(IsValidDispatchTable<CFakeCamera>(kCameraMap));

class CFakeCameraTest : public ::testing::Test {
 protected:
  HRESULT Call(DISPID id, std::vector<CComVariant> args) {
    DISPPARAMS p{std::move(args)};
    excep = EXCEPINFO();
    argErr = 12345;
    return Invoke(kCameraMap, &camera, id, p, &result, &excep, &argErr);
  }
  CFakeCamera camera;
  CComVariant result;
  EXCEPINFO excep;
  UINT argErr = 0;
};

TEST_F(CFakeCameraTest, CoercesArgumentsAndReturnsAutomationBooleans) {
  EXPECT_EQ(Call(2, {CComVariant(LONG{5})}), S_OK);
  EXPECT_EQ(camera.m_sDevice, 5);
  EXPECT_EQ(result.vt, VT_BOOL);
  EXPECT_EQ(result.boolVal, VARIANT_TRUE);
  EXPECT_EQ(Call(2, {CComVariant(u" -3 ")}), S_OK);
  EXPECT_EQ(camera.m_sDevice, -3);
  EXPECT_EQ(result.boolVal, VARIANT_FALSE);
  EXPECT_EQ(Call(2, {CComVariant(2.5)}), S_OK);
  EXPECT_EQ(camera.m_sDevice, 2);
  EXPECT_EQ(Call(2, {CComVariant(true)}), S_OK);
  EXPECT_EQ(camera.m_sDevice, -1);
}

TEST_F(CFakeCameraTest, OverflowIsAnErrorAndTheMemberIsNotCalled) {
  EXPECT_EQ(Call(2, {CComVariant(LONG{40000})}), DISP_E_OVERFLOW);
  EXPECT_EQ(camera.m_sDevice, 99);
  EXPECT_EQ(argErr, 0u);
  EXPECT_EQ(result.vt, VT_EMPTY);
  EXPECT_EQ(excep.scode, DISP_E_OVERFLOW);
  EXPECT_EQ(excep.source, "Connect");
  EXPECT_EQ(excep.description, "Out of present range. (argument 1)");
  EXPECT_EQ(Call(6, {CComVariant(LONG{1}), CComVariant(3e9)}), DISP_E_OVERFLOW);
  EXPECT_EQ(argErr, 1u);
  EXPECT_EQ(camera.m_lRate, 0);
}

TEST_F(CFakeCameraTest, WrongCountMissingAndMismatchedArgumentsAreRefused) {
  EXPECT_EQ(Call(2, {}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(2, {CComVariant(LONG{1}), CComVariant(LONG{2})}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(1, {CComVariant(LONG{1})}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(camera.m_nOpens, 0);
  EXPECT_EQ(Call(2, {CComVariant::Missing()}), DISP_E_PARAMNOTOPTIONAL);
  EXPECT_EQ(argErr, 0u);
  EXPECT_EQ(Call(2, {CComVariant(u"two")}), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(excep.description, "Type mismatch. (argument 1)");
  EXPECT_EQ(
      Call(5, {CComVariant(u"10.0.0.1"), CComVariant(SHORT{5004}), CComVariant::Null(), CComVariant(u"x")}),
      DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr, 2u);
  EXPECT_EQ(camera.m_sDevice, 99);
  EXPECT_TRUE(camera.m_strPeer.empty());
}

TEST_F(CFakeCameraTest, ArgumentsArriveInCallOrder) {
  ASSERT_EQ(
      Call(5, {CComVariant(u"10.0.0.1"), CComVariant(u"5004"), CComVariant(u"a.avi"), CComVariant(u"Li")}),
      S_OK);
  EXPECT_EQ(camera.m_strPeer, "10.0.0.1:5004 a.avi Li");
  EXPECT_EQ(result.vt, VT_I4);
  EXPECT_EQ(result.lVal, 7);
  ASSERT_EQ(Call(6, {CComVariant(LONG{250000}), CComVariant(SHORT{2})}), S_OK);
  EXPECT_EQ(camera.m_lRate, 250000);
  EXPECT_EQ(camera.m_lSide, 2);
  EXPECT_EQ(result.vt, VT_EMPTY);
}

TEST_F(CFakeCameraTest, ANullStringReachesATextParameterAsNullAndIsNoNumber) {
  ASSERT_EQ(
      Call(5, {CComVariant(u"10.0.0.1"), CComVariant(SHORT{1}), CComVariant::NullText(), CComVariant(u"")}),
      S_OK);
  EXPECT_EQ(camera.m_strPeer, "10.0.0.1:1 (null) ");
  ASSERT_EQ(Call(5, {CComVariant(u"10.0.0.1"), CComVariant(SHORT{1}), CComVariant(u""), CComVariant(u"")}),
            S_OK);
  EXPECT_EQ(camera.m_strPeer, "10.0.0.1:1  ");
  EXPECT_EQ(Call(2, {CComVariant::NullText()}), DISP_E_TYPEMISMATCH);
}

TEST_F(CFakeCameraTest, TextsReachTheMemberAsAnsiBytes) {
  const int saved = GetACP();
  SetACPForTesting(936);
  ASSERT_EQ(Call(3, {CComVariant(u"\u4e2d\u6587 ok")}), S_OK);
  EXPECT_EQ(camera.m_strName, "\xD6\xD0\xCE\xC4 ok");
  SetACPForTesting(1252);
  ASSERT_EQ(Call(3, {CComVariant(u"Jos\u00e9 \u4e2d")}), S_OK);
  EXPECT_EQ(camera.m_strName, "Jos\xE9 ?");
  SetACPForTesting(saved);
  // Numbers become their text, and an embedded NUL ends the C string.
  ASSERT_EQ(Call(3, {CComVariant(LONG{42})}), S_OK);
  EXPECT_EQ(camera.m_strName, "42");
  const char16_t withNul[] = {u'a', u'\0', u'b'};
  ASSERT_EQ(Call(3, {CComVariant(std::u16string_view(withNul, 3))}), S_OK);
  EXPECT_EQ(camera.m_strName, "a");
}

TEST_F(CFakeCameraTest, ResultTypesFollowTheRow) {
  result = CComVariant(u"stale text");  // replaced, not leaked
  ASSERT_EQ(Call(4, {}), S_OK);
  EXPECT_EQ(result.vt, VT_I2);
  EXPECT_EQ(result.iVal, 4);
  ASSERT_EQ(Call(7, {}), S_OK);
  EXPECT_EQ(result.vt, VT_I4);
  EXPECT_EQ(result.lVal, -1);
  ASSERT_EQ(Call(DISPID_ABOUTBOX, {}), S_OK);
  EXPECT_EQ(result.vt, VT_EMPTY);
  EXPECT_EQ(camera.m_nAbout, 1);
  // A 64-bit long that does not fit the automation long.
  EXPECT_EQ(Call(9, {}), DISP_E_OVERFLOW);
  // No result wanted.
  DISPPARAMS none;
  EXPECT_EQ(Invoke(kCameraMap, &camera, 1, none), S_OK);
  EXPECT_EQ(camera.m_nOpens, 1);
}

TEST_F(CFakeCameraTest, AThrowingMemberBecomesAnException) {
  EXPECT_EQ(Call(8, {}), DISP_E_EXCEPTION);
  EXPECT_EQ(excep.source, "Fail");
  EXPECT_EQ(excep.description, "camera on fire");
}

TEST_F(CFakeCameraTest, UnknownMembersAndNamesIgnoringCase) {
  EXPECT_EQ(Call(77, {}), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(excep.source, "");
  DISPID id = 0;
  EXPECT_EQ(GetIDsOfNames(kCameraMap, "aboutbox", &id), S_OK);
  EXPECT_EQ(id, DISPID_ABOUTBOX);
  EXPECT_EQ(GetIDsOfNames(kCameraMap, "ADDPEER", &id), S_OK);
  EXPECT_EQ(id, 5);
  EXPECT_EQ(GetIDsOfNames(kCameraMap, "AddPeers", &id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(id, DISPID_UNKNOWN);
  EXPECT_EQ(GetIDsOfNames(kCameraMap, "", &id), DISP_E_UNKNOWNNAME);
}

struct COther {
  BOOL Open() { return TRUE; }
};

TEST_F(CFakeCameraTest, ARowForAnotherClassOrOtherTypesIsNeverCalled) {
  COther other;
  DISPPARAMS none;
  EXPECT_EQ(Invoke(kCameraMap, &other, 1, none), E_UNEXPECTED);
  // A table built at run time escapes the compile-time check; Invoke still refuses it.
  const DispatchEntry wrong[] = {{2, "Connect", {VT_I4}, VT_BOOL, &Bind<&CFakeCamera::Connect>}};
  DISPPARAMS one{{CComVariant(LONG{1})}};
  EXPECT_EQ(Invoke(wrong, &camera, 2, one), E_UNEXPECTED);
  EXPECT_EQ(camera.m_sDevice, 99);
}

TEST(DispatchTableCheckTest, RejectsRowsThatDisagreeWithTheirMembers) {
  constexpr DispatchEntry paramTypes[] = {{2, "Connect", {VT_I4}, VT_BOOL, &Bind<&CFakeCamera::Connect>}};
  constexpr DispatchEntry paramCount[] = {{2, "Connect", {}, VT_BOOL, &Bind<&CFakeCamera::Connect>}};
  constexpr DispatchEntry resultType[] = {
      {4, "GetLastError", {}, VT_BOOL, &Bind<&CFakeCamera::GetLastError>}};
  constexpr DispatchEntry voidResult[] = {{3, "SetName", {VT_BSTR}, VT_I4, &Bind<&CFakeCamera::SetName>}};
  constexpr DispatchEntry sameId[] = {{1, "Open", {}, VT_BOOL, &Bind<&CFakeCamera::Open>},
                                      {1, "Open2", {}, VT_BOOL, &Bind<&CFakeCamera::Open>}};
  constexpr DispatchEntry sameName[] = {{1, "Open", {}, VT_BOOL, &Bind<&CFakeCamera::Open>},
                                        {2, "OPEN", {}, VT_BOOL, &Bind<&CFakeCamera::Open>}};
  constexpr DispatchEntry longAsBool[] = {{5, "Huge", {}, VT_BOOL, &Bind<&CFakeCamera::Huge>}};
  constexpr DispatchEntry boolAsLong[] = {{1, "Open", {}, VT_I4, &Bind<&CFakeCamera::Open>}};
  EXPECT_FALSE(IsValidDispatchTable<CFakeCamera>(paramTypes));
  EXPECT_FALSE(IsValidDispatchTable<CFakeCamera>(paramCount));
  EXPECT_FALSE(IsValidDispatchTable<CFakeCamera>(resultType));
  EXPECT_FALSE(IsValidDispatchTable<CFakeCamera>(voidResult));
  EXPECT_FALSE(IsValidDispatchTable<CFakeCamera>(sameId));
  EXPECT_FALSE(IsValidDispatchTable<CFakeCamera>(sameName));
  EXPECT_FALSE(IsValidDispatchTable<CFakeCamera>(longAsBool));
  // BOOL and LONG are the same C++ type, so the row decides between VT_BOOL and VT_I4.
  EXPECT_TRUE(IsValidDispatchTable<CFakeCamera>(boolAsLong));
  EXPECT_FALSE(IsValidDispatchTable<COther>(kCameraMap));
}

}  // namespace
