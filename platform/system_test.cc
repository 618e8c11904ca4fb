// system_test.cc: paths, file search, file access, identity and host memory of the OS layer.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "platform/test_temp_dir.h"

namespace pb::platform {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

TEST(PathsTest, ReplaceFileNameAndExtension) {
  const std::string sep(1, PathSeparator());
  const std::string dir = sep + "a.b" + sep + "c";
  EXPECT_EQ(ReplaceFileName(dir + sep + "host.exe", "Peerbeacon.ini"),
            dir + sep + "Peerbeacon.ini");
  EXPECT_EQ(ReplaceFileName("host.exe", "Peerbeacon.ini"), "Peerbeacon.ini");
  EXPECT_EQ(ReplaceFileName(dir + sep, "x"), dir + sep + "x");
  EXPECT_EQ(ReplaceExtension(dir + sep + "Peerbeacon.nxl", "err"), dir + sep + "Peerbeacon.err");
  // A dot in a directory name is not an extension.
  EXPECT_EQ(ReplaceExtension(dir + sep + "Peerbeacon", "err"), dir + sep + "Peerbeacon.err");
  EXPECT_EQ(ReplaceExtension(dir + sep + "a.tar.gz", "err"), dir + sep + "a.tar.err");
  EXPECT_EQ(ReplaceFileName("/x/y.exe", "z"), "/x/z");
  if (PathSeparator() == '\\') {
    EXPECT_EQ(ReplaceFileName("C:host.exe", "Peerbeacon.ini"), "C:Peerbeacon.ini");
    EXPECT_EQ(ReplaceExtension("C:\\dir.x\\Peerbeacon", "err"), "C:\\dir.x\\Peerbeacon.err");
  }
}

TEST(FileTest, FileExistsRefusesWildcardsAndDirectories) {
  TempDir dir;
  const std::string file = dir.File("present.txt");
  WriteBytes(file, "x");
  EXPECT_TRUE(FileExists(file));
  EXPECT_FALSE(FileExists(dir.File("absent.txt")));
  EXPECT_FALSE(FileExists(dir.File("pres*.txt")));
  EXPECT_FALSE(FileExists(dir.File("present.tx?")));
  EXPECT_FALSE(FileExists(dir.path().string()));
  EXPECT_FALSE(FileExists(""));
}

TEST(FileTest, AppendToFileCreatesThenAppends) {
  TempDir dir;
  const std::string log = dir.File("Peerbeacon.err");
  ASSERT_TRUE(AppendToFile(log, "[12/07 02:18:42] - Err[bind]:10048 : ListenThread\r\n"));
  ASSERT_TRUE(AppendToFile(log, "second\r\n"));
  EXPECT_EQ(ReadBytes(log), "[12/07 02:18:42] - Err[bind]:10048 : ListenThread\r\nsecond\r\n");
  WriteBytes(log, "earlier run\n");
  ASSERT_TRUE(AppendToFile(log, "x"));
  EXPECT_EQ(ReadBytes(log), "earlier run\nx");
  EXPECT_FALSE(AppendToFile(dir.File("missing") + PathSeparator() + "a.err", "x"));
}

TEST(FileTest, ReadOnlyFileViewHoldsWholeFilesButNotEmptyOnes) {
  TempDir dir;
  const std::string bytes("\x00\x01node list\r\n\xff", 14);
  WriteBytes(dir.File("full"), bytes);
  WriteBytes(dir.File("empty"), "");

  ReadOnlyFileView map;
  ASSERT_TRUE(map.Open(dir.File("full")));
  ASSERT_EQ(map.size(), bytes.size());
  EXPECT_EQ(std::memcmp(map.data(), bytes.data(), bytes.size()), 0);

  EXPECT_FALSE(map.Open(dir.File("empty")));
  EXPECT_EQ(map.data(), nullptr);
  EXPECT_EQ(map.size(), 0u);
  EXPECT_FALSE(map.Open(dir.File("absent")));
  ASSERT_TRUE(map.Open(dir.File("full")));
  EXPECT_EQ(map.size(), bytes.size());
}

TEST(FileTest, FileIdentityChangesWhenTheFileIsEdited) {
  TempDir dir;
  const std::string file = dir.File("NodeList.ini");
  WriteBytes(file, "[GROUP]\r\n");
  FileIdentity first, again, edited;
  ASSERT_TRUE(GetFileIdentity(file, &first));
  ASSERT_TRUE(GetFileIdentity(file, &again));
  EXPECT_EQ(first, again);
  EXPECT_EQ(first.size, 9u);
  ASSERT_TRUE(AppendToFile(file, "1=a\r\n"));
  ASSERT_TRUE(GetFileIdentity(file, &edited));
  EXPECT_NE(first, edited);
  EXPECT_EQ(edited.size, 14u);
  EXPECT_FALSE(GetFileIdentity(dir.File("absent"), &edited));
}

TEST(SearchTest, FindsAFileBesideTheExecutableFirst) {
  const std::string exe = ExecutablePath();
  ASSERT_FALSE(exe.empty());
  EXPECT_TRUE(FileExists(exe));
  // A test program is its own module.
  EXPECT_EQ(ModulePath(), exe);
  EXPECT_FALSE(WindowsDirectory().empty());
  EXPECT_FALSE(SystemDirectory().empty());

  const std::string name = "pb_search_" + std::to_string(MonotonicMs()) + ".tmp";
  const std::string beside = ReplaceFileName(exe, name);
  WriteBytes(beside, "x");
  std::string found;
  EXPECT_TRUE(OpenFileSearch(name, &found));
  EXPECT_TRUE(std::filesystem::equivalent(found, beside)) << found;
  found.clear();
  EXPECT_TRUE(SearchPathFile(name, &found));
  EXPECT_TRUE(std::filesystem::equivalent(found, beside)) << found;
  std::filesystem::remove(beside);
  EXPECT_FALSE(OpenFileSearch(name, &found));
  EXPECT_FALSE(SearchPathFile(name, &found));
}

// A hit whose full path is too long for OpenFile's own record is still found.
TEST(SearchTest, FindsAFileInALongCurrentDirectory) {
  TempDir dir;
  std::filesystem::path deep = dir.path();
  while (deep.string().size() < 170) deep /= "directory_level";
  std::filesystem::create_directories(deep);
  const std::string name = "pb_deep_" + std::to_string(MonotonicMs()) + ".tmp";
  WriteBytes((deep / name).string(), "x");
  const std::filesystem::path saved = std::filesystem::current_path();
  std::filesystem::current_path(deep);
  std::string found;
  const bool ok = OpenFileSearch(name, &found);
  std::filesystem::current_path(saved);
  ASSERT_TRUE(ok);
  EXPECT_TRUE(std::filesystem::equivalent(found, deep / name)) << found;
  EXPECT_LT(found.size(), kMaxPath);
}

TEST(IdentityTest, UserAndComputerNamesFitTheirBuffers) {
  std::string user;
  ASSERT_TRUE(LogonUserName(&user));
  EXPECT_FALSE(user.empty());
  EXPECT_LE(user.size(), 256u);
  EXPECT_EQ(user.find('\0'), std::string::npos);
  std::string computer;
  // A host name longer than 15 characters cannot be read; any name that is read fits.
  if (ComputerName(&computer)) {
    EXPECT_FALSE(computer.empty());
    EXPECT_LE(computer.size(), 15u);
    EXPECT_EQ(computer.find('.'), std::string::npos);
  }
}

TEST(MemoryTest, GlobalBlocksAreZeroedAndWritable) {
  for (size_t size : {size_t{0}, size_t{1}, size_t{4096}}) {
    void* block = GlobalAllocZeroed(size);
    ASSERT_NE(block, nullptr);
    auto* bytes = static_cast<unsigned char*>(GlobalLockBlock(block));
    ASSERT_NE(bytes, nullptr);
    for (size_t i = 0; i < size; ++i) ASSERT_EQ(bytes[i], 0) << i;
    if (size > 0) std::memset(bytes, 0xAB, size);
    GlobalUnlockBlock(block);
    GlobalFreeBlock(block);
  }
}

}  // namespace
}  // namespace pb::platform
