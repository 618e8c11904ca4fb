// module_path_test_posix.cc: a module loaded by a relative path keeps its folder when the host
// changes directory.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "platform/platform.h"
#include "platform/test_temp_dir.h"

namespace pb::platform {
namespace {

TEST(ModulePathTest, ALoadedModuleKeepsItsFolderAcrossDirectoryChanges) {
  const std::string exe = ExecutablePath();
  const std::string dir = exe.substr(0, exe.rfind('/'));
  char expected[PATH_MAX];
  ASSERT_NE(realpath((dir + "/module_path_probe.so").c_str(), expected), nullptr);
  char saved[PATH_MAX];
  ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
  testing::TempDir elsewhere;

  // Loaded the way a host loads "./Peerbeacon.nxl", asked only after a change of directory.
  ASSERT_EQ(chdir(dir.c_str()), 0);
  void* module = dlopen("./module_path_probe.so", RTLD_NOW | RTLD_LOCAL);
  const int moved = chdir(elsewhere.path().c_str());
  char path[kMaxPath] = {};
  if (module != nullptr) {
    auto probe = reinterpret_cast<void (*)(char*, size_t)>(dlsym(module, "ProbeModulePath"));
    if (probe != nullptr) probe(path, sizeof path);
  }
  ASSERT_EQ(chdir(saved), 0);
  ASSERT_NE(module, nullptr) << dlerror();
  ASSERT_EQ(moved, 0);
  EXPECT_EQ(std::string(path), expected);
  dlclose(module);
}

}  // namespace
}  // namespace pb::platform
