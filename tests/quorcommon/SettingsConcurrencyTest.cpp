// The in-memory settings store under concurrent writers.
//
// The window between a writer's file update and its memory update is too
// short to hit by chance, so this binary wraps flock(2): right after a
// chosen writer releases the settings file's lock, a second writer of the
// same key runs and is given time to finish before the first one goes on.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/file.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>

#include "ConfigFile.h"
#include "GlobalSetting.h"
#include "quorcommon/TempRoot.h"

namespace {

std::atomic<std::thread::id> gPausedWriter{};
std::function<void()> gAfterUnlock;

}  // namespace

extern "C" __attribute__((visibility("default"))) int flock(int fd, int operation) {
  using Real = int (*)(int, int);
  static const Real real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "flock"));
  const int rc = real(fd, operation);
  if (operation == LOCK_UN && gPausedWriter.load() == std::this_thread::get_id()) {
    gPausedWriter = std::thread::id();
    gAfterUnlock();
  }
  return rc;
}

namespace {

using quor::test::TempRoot;

// A second writer of the same key that gets between the first writer's file
// and memory updates must not leave memory and file with different values.
TEST(GlobalSettingOnMem, SetItem_SameKeyFromTwoThreadsLeavesMemoryAndFileAlike) {
  TempRoot root;
  const auto ini = root.config("quor.ini");
  TempRoot::write(ini, "[s]\nk=0\n");
  auto* store =
      QUOR::GlobalSettingOnMem::Instance(nullptr, true, nullptr, nullptr, nullptr, nullptr, true);
  ASSERT_TRUE(store->ok());
  std::promise<QUOR::GS_ERROR> second;
  std::thread other;
  gAfterUnlock = [&] {
    other = std::thread([&] { second.set_value(store->setItem("k", "b", "s")); });
    // Enough for a whole write; a store that serialises its writers makes
    // the second one wait for this one instead.
    second.get_future().wait_for(std::chrono::seconds(1));
  };
  gPausedWriter = std::this_thread::get_id();
  EXPECT_EQ(0, store->setItem("k", "a", "s"));
  ASSERT_TRUE(other.joinable()) << "the settings file lock was never released";
  other.join();
  std::string inMemory, onDisk;
  ASSERT_EQ(0, store->getItem("k", inMemory, "s"));
  ASSERT_TRUE(QUOR::ConfigFileOnDisk(ini.c_str()).getparam("s", "k", onDisk));
  EXPECT_EQ(onDisk, inMemory);
  QUOR::GlobalSettingOnMem::DestroyInstance();
}

}  // namespace
