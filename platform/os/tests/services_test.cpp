// Timing, debug output, runtime folder and library paths.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <string>

#include "platform/os/debug_output.h"
#include "platform/os/library_path.h"
#include "platform/os/runtime_dir.h"
#include "platform/os/timing.h"

namespace vantor::os {
namespace {

TEST(TimerResolutionTest, AnswersLikeTheSystemTimer) {
  TimerCaps caps;
  EXPECT_EQ(TimeGetDevCaps(&caps), kTimerNoError);
  EXPECT_EQ(caps.periodMin, 1u);
  EXPECT_EQ(caps.periodMax, 1000000u);
  EXPECT_EQ(TimeGetDevCaps(nullptr), kTimerNoCanDo);

  struct Case {
    std::uint32_t period;
    std::uint32_t result;
  };
  for (const Case c : {Case{0, kTimerNoCanDo}, Case{1, kTimerNoError}, Case{10, kTimerNoError},
                       Case{1000000, kTimerNoError}, Case{1000001, kTimerNoCanDo}}) {
    EXPECT_EQ(TimeBeginPeriod(c.period), c.result) << c.period;
    EXPECT_EQ(TimeEndPeriod(c.period), c.result) << c.period;
  }
  EXPECT_EQ(TimeEndPeriod(5), kTimerNoCanDo) << "no matching begin";
}

TEST(TickTest, CountsMillisecondsAndDifferencesSurviveTheWrap) {
  const std::uint32_t before = GetTickCount();
  Sleep(20);
  EXPECT_GE(TicksBetween(before, GetTickCount()), 20u);
  EXPECT_EQ(TicksBetween(0xFFFFFFF0u, 0x00000010u), 0x20u);
  EXPECT_EQ(TicksBetween(5, 5), 0u);
}

class DebugOutputTest : public ::testing::Test {
 protected:
  void TearDown() override {
    ::unsetenv("VANTOR_DEBUG_OUTPUT");
    std::remove(file_.c_str());
  }
  std::string file_ = ::testing::TempDir() + "/debug-" + std::to_string(::getpid()) + ".log";
};

TEST_F(DebugOutputTest, GoesToTheChosenFileOneLinePerCallAndNowhereWhenOff) {
  ::unsetenv("VANTOR_DEBUG_OUTPUT");
  OutputDebugText("dropped");
  ::setenv("VANTOR_DEBUG_OUTPUT", "off", 1);
  OutputDebugText("dropped");
  ::setenv("VANTOR_DEBUG_OUTPUT", file_.c_str(), 1);
  OutputDebugText("mctl_MoveAbs entry");
  OutputDebugText("mctl_MoveAbs exit\n");
  std::ifstream in(file_);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "mctl_MoveAbs entry\nmctl_MoveAbs exit\n");
}

TEST(RuntimeDirectoryTest, IsPrivateAndPerNamespace) {
  ::setenv("VANTOR_NAMESPACE", "runtime dir/test", 1);
  auto folder = RuntimeDirectory();
  ASSERT_TRUE(folder);
  struct stat info {};
  ASSERT_EQ(::stat(folder->c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_EQ(folder->substr(folder->rfind('/') + 1), SafeIdentifier("runtime dir/test"));
  ::unsetenv("VANTOR_NAMESPACE");
  EXPECT_EQ(CurrentNamespace(), "default");
}

TEST(SafeIdentifierTest, KeepsPlainNamesAndSeparatesAllOthers) {
  EXPECT_EQ(SafeIdentifier("tarnis1"), "tarnis1");
  const std::string longStem(300, 'a');
  const std::string texts[] = {
      "a b", "a_b", "a%20b", "a/b", "a%2Fb", ".hidden", "%2Ehidden", "", "..", "a\\b",
      longStem + "x", longStem + "y", longStem + " ", std::string(97, 'z'), std::string(96, 'z'),
  };
  std::set<std::string> seen;
  for (const std::string& text : texts) {
    const std::string id = SafeIdentifier(text);
    EXPECT_TRUE(seen.insert(id).second) << "collision for '" << text << "'";
    EXPECT_LE(id.size(), 96u + 40u) << text;
    EXPECT_EQ(id.find('/'), std::string::npos) << text;
    EXPECT_NE(id.front(), '.') << text;
  }
}

TEST(LibraryPathTest, FindsTheProgramFolder) {
  const std::string folder = ExecutableFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(ModuleFolder(), folder) << "linked statically into this program";
  static int local = 0;
  EXPECT_EQ(FolderOfAddress(&local), folder);
}

TEST(PluginTest, LoadsByPathAndFindsExports) {
  std::string error;
  auto plugin = Plugin::Load(VANTOR_OS_TEST_PLUGIN, &error);
  ASSERT_TRUE(plugin) << error;
  using Answer = int (*)();
  auto answer = reinterpret_cast<Answer>(plugin->Symbol("VantorTestPluginAnswer"));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);
  EXPECT_EQ(plugin->Symbol("Missing"), nullptr);
  EXPECT_EQ(FolderOfAddress(reinterpret_cast<const void*>(answer)),
            std::string(VANTOR_OS_TEST_PLUGIN).substr(0, std::string(VANTOR_OS_TEST_PLUGIN).rfind('/')));

  EXPECT_EQ(Plugin::Load("/nonexistent/Quintel.so", &error).error(), OsError::NotFound);
  EXPECT_EQ(Plugin::Load("Quintel.so", &error).error(), OsError::InvalidArgument);
  const std::string notLibrary = ::testing::TempDir() + "/not-a-library.so";
  std::ofstream(notLibrary) << "text";
  EXPECT_EQ(Plugin::Load(notLibrary, &error).error(), OsError::SystemError);
  EXPECT_FALSE(error.empty());
  std::remove(notLibrary.c_str());
}

}  // namespace
}  // namespace vantor::os
