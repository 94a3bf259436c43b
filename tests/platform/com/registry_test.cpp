#include "platform/com/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "registry_fixture.h"

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

ino_t InodeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

TEST(RegistryStoreTest, TextFormRoundTripsAwkwardNamesAndValues) {
  RegistryTree tree;
  RegistryKey* k = tree.Create("HKEY_CLASSES_ROOT", {"CLSID", "{X}", "Inproc\"Server"});
  k->values[""] = {REG_SZ, "/opt/q \"v\"\\lib.so", 0};
  k->values["ThreadingModel"] = {REG_SZ, "line1\nline2\r\t\x01\x7F end", 0};
  k->values["Count"] = {REG_DWORD, "", 0xDEADBEEF};
  k->values["Chinese"] = {REG_SZ, "\xE4\xB8\xAD\xE6\x96\x87", 0};
  k->values["="] = {REG_SZ, "", 0};
  tree.Create("HKEY_CLASSES_ROOT", {"Empty", "Leaf"});
  tree.Create("HKEY_CURRENT_USER", {})->values["@"] = {REG_SZ, "named at", 0};

  const std::string text = tree.Serialize();
  auto back = RegistryTree::Parse(text);
  ASSERT_TRUE(back) << text;
  EXPECT_TRUE(*back == tree) << text;
  EXPECT_NE(back->Find("HKEY_CLASSES_ROOT", {"empty", "LEAF"}), nullptr);
  EXPECT_EQ(
      back->Find("HKEY_CLASSES_ROOT", {"clsid", "{x}", "inproc\"server"})->values.at("threadingmodel").text,
      "line1\nline2\r\t\x01\x7F end");
  // One key per line: the file stays a line-oriented text.
  EXPECT_EQ(text.find("line1\n"), std::string::npos);
}

TEST(RegistryStoreTest, ParseRefusesWhatIsNotARegistryFile) {
  EXPECT_TRUE(RegistryTree::Parse(""));
  EXPECT_TRUE(
      RegistryTree::Parse("QUELVORA REGISTRY 1\r\n\r\n; a comment\r\n[HKEY_CLASSES_ROOT\\A]\r\n@=\"x\"\r\n"));
  for (const char* bad : {
           "[HKEY_CLASSES_ROOT\\A]\n",                            // no signature
           "QUELVORA REGISTRY 1\n@=\"x\"\n",                      // value outside a key
           "QUELVORA REGISTRY 1\n[HKEY_NOWHERE\\A]\n",            // unknown root
           "QUELVORA REGISTRY 1\n[HKEY_CLASSES_ROOT\\A\\\\B]\n",  // empty key name
           "QUELVORA REGISTRY 1\n[HKEY_CLASSES_ROOT\\A]\n\"v\"=dword:12\n",
           "QUELVORA REGISTRY 1\n[HKEY_CLASSES_ROOT\\A]\n\"v\"=\"open\n",
           "QUELVORA REGISTRY 1\n[HKEY_CLASSES_ROOT\\A]\n\"v\"=\"bad \\q escape\"\n",
           "QUELVORA REGISTRY 1\n[HKEY_CLASSES_ROOT\\A]\n\"v\"=\"x\" trailing\n",
           "QUELVORA REGISTRY 1\n[HKEY_CLASSES_ROOT\\A]\nv=\"x\"\n",
       }) {
    EXPECT_FALSE(RegistryTree::Parse(bad)) << bad;
  }
}

using RegistryTest = RegistryFileTest;

TEST_F(RegistryTest, CreatesNestedKeysAndReadsValuesBackIgnoringCase) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, "CLSID\\{ABC}\\InprocServer32", &key), ERROR_SUCCESS);
  const char path[] = "/usr/lib/q.so";
  ASSERT_EQ(RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path), sizeof path),
            ERROR_SUCCESS);
  const DWORD status = 131473;
  ASSERT_EQ(RegSetValueExA(key, "MiscStatus", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&status), 4),
            ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(key, "Bad", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&status), 2),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSetValueExA(key, "Bad", 0, 3 /* binary */, reinterpret_cast<const BYTE*>(&status), 4),
            ERROR_INVALID_PARAMETER);
  ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);

  EXPECT_EQ(RegGetString(HKEY_CLASSES_ROOT, "clsid\\{abc}\\INPROCSERVER32"), "/usr/lib/q.so");
  EXPECT_EQ(RegGetDword(HKEY_CLASSES_ROOT, "CLSID\\{ABC}\\InprocServer32", "miscstatus"), 131473u);
  EXPECT_FALSE(RegGetString(HKEY_CLASSES_ROOT, "CLSID\\{ABC}\\InprocServer32", "MiscStatus"));
  EXPECT_TRUE(RegKeyExists(HKEY_CLASSES_ROOT, "CLSID\\{ABC}"));
  EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, "CLSID\\{ABC}"));

  // The spelling of creation stays.
  ASSERT_EQ(RegOpenKeyA(HKEY_CLASSES_ROOT, "CLSID", &key), ERROR_SUCCESS);
  char name[16];
  EXPECT_EQ(RegEnumKeyA(key, 0, name, sizeof name), ERROR_SUCCESS);
  EXPECT_STREQ(name, "{ABC}");
  EXPECT_EQ(RegEnumKeyA(key, 0, name, 3), ERROR_MORE_DATA);
  EXPECT_EQ(RegEnumKeyA(key, 1, name, sizeof name), ERROR_NO_MORE_ITEMS);
  RegCloseKey(key);
}

TEST_F(RegistryTest, QueriesReportSizesAndShortBuffers) {
  ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "QUELVORA.Test.1", REG_SZ, "Test Control", 0), ERROR_SUCCESS);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyA(HKEY_CLASSES_ROOT, "QUELVORA.Test.1", &key), ERROR_SUCCESS);
  DWORD type = 0;
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 13u);
  char small[5] = "zzzz";
  size = sizeof small;
  EXPECT_EQ(RegQueryValueExA(key, "", nullptr, nullptr, reinterpret_cast<BYTE*>(small), &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, 13u);
  EXPECT_STREQ(small, "zzzz");
  char buf[32];
  LONG lsize = sizeof buf;
  EXPECT_EQ(RegQueryValueA(HKEY_CLASSES_ROOT, "QUELVORA.Test.1", buf, &lsize), ERROR_SUCCESS);
  EXPECT_STREQ(buf, "Test Control");
  EXPECT_EQ(lsize, 13);
  EXPECT_EQ(RegQueryValueExA(key, "Absent", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
  // A key without a default value reads as "".
  ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, "Bare", &key), ERROR_SUCCESS);
  RegCloseKey(key);
  lsize = sizeof buf;
  EXPECT_EQ(RegQueryValueA(HKEY_CLASSES_ROOT, "Bare", buf, &lsize), ERROR_SUCCESS);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(RegQueryValueA(HKEY_CLASSES_ROOT, "Absent", buf, &lsize), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, DeleteRemovesTheWholeTreeAndStaleHandlesNoticeIt) {
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, "CLSID\\{A}\\MiscStatus\\1", {}, "131473"), ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, "CLSID\\{B}", {}, "other"), ERROR_SUCCESS);
  HKEY inner = nullptr;
  ASSERT_EQ(RegOpenKeyA(HKEY_CLASSES_ROOT, "CLSID\\{A}\\MiscStatus", &inner), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "clsid\\{a}"), ERROR_SUCCESS);
  EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, "CLSID\\{A}"));
  EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, "CLSID\\{A}\\MiscStatus\\1"));
  EXPECT_EQ(RegGetString(HKEY_CLASSES_ROOT, "CLSID\\{B}"), "other");
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "CLSID\\{A}"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, ""), ERROR_INVALID_PARAMETER);
  HKEY again = nullptr;
  EXPECT_EQ(RegCreateKeyA(inner, "2", &again), ERROR_KEY_DELETED);
  EXPECT_EQ(again, nullptr);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(inner, "", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
  RegCloseKey(inner);
  EXPECT_EQ(RegSetString(HKEY_CLASSES_ROOT, "A\\\\B", {}, "x"), ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryTest, EveryChangeIsInTheFileAndReplacesItWhole) {
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, "QUELVORA.Test.1\\CLSID", {}, "{C}"), ERROR_SUCCESS);
  const ino_t first = InodeOf(file_);
  ASSERT_NE(first, 0u);
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, "CLSID\\{C}", {}, "Test"), ERROR_SUCCESS);
  EXPECT_NE(InodeOf(file_), first);  // renamed over, not rewritten in place

  auto tree = RegistryTree::Parse(ReadAll(file_));
  ASSERT_TRUE(tree);
  const RegistryKey* k = tree->Find("HKEY_CLASSES_ROOT", {"QUELVORA.Test.1", "CLSID"});
  ASSERT_NE(k, nullptr);
  EXPECT_EQ(k->values.at("").text, "{C}");
  // No temporary is left beside the file.
  for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "registry" || name == "registry.lock") << name;
  }
  // Setting a value to what it already is writes nothing.
  const ino_t before = InodeOf(file_);
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, "CLSID\\{C}", {}, "Test"), ERROR_SUCCESS);
  EXPECT_EQ(InodeOf(file_), before);
}

TEST_F(RegistryTest, SeesChangesMadeByOthersAndStartsEmptyWithoutAFile) {
  EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, "CLSID"));
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, "Mine", {}, "1"), ERROR_SUCCESS);
  {
    std::ofstream out(file_ + ".new");
    out << "QUELVORA REGISTRY 1\n[HKEY_CLASSES_ROOT\\Theirs]\n@=\"2\"\n";
  }
  std::filesystem::rename(file_ + ".new", file_);
  EXPECT_EQ(RegGetString(HKEY_CLASSES_ROOT, "Theirs"), "2");
  EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, "Mine"));
  std::filesystem::remove(file_);
  EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, "Theirs"));
}

TEST_F(RegistryTest, ADamagedFileIsReportedAndNeverOverwritten) {
  const std::string damaged = "QUELVORA REGISTRY 1\n[HKEY_CLASSES_ROOT\\A]\n\"v\"=\"unterminated\n";
  std::ofstream(file_) << damaged;
  EXPECT_EQ(RegSetString(HKEY_CLASSES_ROOT, "B", {}, "x"), ERROR_BADDB);
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyA(HKEY_CLASSES_ROOT, "A", &key), ERROR_BADDB);
  EXPECT_FALSE(RegGetString(HKEY_CLASSES_ROOT, "A", "v"));
  EXPECT_EQ(ReadAll(file_), damaged);
}

TEST_F(RegistryTest, AFailedWriteLeavesNothingBehindInMemory) {
  std::ofstream(dir_ / "blocker") << "a file where a folder should be";
  const std::string unwritable = (dir_ / "blocker" / "registry").string();
  setenv("QUELVORA_REGISTRY", unwritable.c_str(), 1);
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, "A", &key), ERROR_CANTWRITE);
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(RegSetString(HKEY_CLASSES_ROOT, "A", {}, "x"), ERROR_CANTWRITE);
  EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, "A"));
}

TEST_F(RegistryTest, FileLocationFollowsTheEnvironment) {
  EXPECT_EQ(RegistryFilePath(), file_);
  unsetenv("QUELVORA_REGISTRY");
  const char* savedXdg = std::getenv("XDG_DATA_HOME");
  const std::string xdg = savedXdg ? savedXdg : "";
  setenv("XDG_DATA_HOME", dir_.c_str(), 1);
  EXPECT_EQ(RegistryFilePath(), (dir_ / "quelvora" / "registry").string());
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, "A", {}, "x"), ERROR_SUCCESS);
  EXPECT_TRUE(std::filesystem::exists(dir_ / "quelvora" / "registry"));
  unsetenv("XDG_DATA_HOME");
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  if (!home.empty()) {
    EXPECT_EQ(RegistryFilePath(), home + "/.local/share/quelvora/registry");
  }
  if (savedXdg) setenv("XDG_DATA_HOME", xdg.c_str(), 1);
}

TEST_F(RegistryTest, WritersInOtherProcessesLoseNoUpdate) {
  constexpr int kWriters = 3;
  constexpr int kValues = 25;
  pid_t children[kWriters];
  for (int w = 0; w < kWriters; ++w) {
    children[w] = fork();
    ASSERT_GE(children[w], 0);
    if (children[w] == 0) {
      bool ok = true;
      for (int i = 0; i < kValues; ++i)
        ok = RegSetString(HKEY_CLASSES_ROOT, "Shared", "w" + std::to_string(w) + "-" + std::to_string(i),
                          "v") == ERROR_SUCCESS &&
             ok;
      _exit(ok ? 0 : 1);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (int w = 0; w < kWriters; ++w) {
    for (int i = 0; i < kValues; ++i)
      EXPECT_TRUE(
          RegGetString(HKEY_CLASSES_ROOT, "Shared", "w" + std::to_string(w) + "-" + std::to_string(i)));
  }
}

}  // namespace
