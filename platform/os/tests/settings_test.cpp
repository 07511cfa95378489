#include "platform/os/settings.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace vantor::os {
namespace {

// Each test gets its own pair of root files.
class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    folder_ = ::testing::TempDir() + "/settings-" + info->name() + "-" + std::to_string(::getpid());
    ::mkdir(folder_.c_str(), 0700);
    userFile_ = folder_ + "/user/settings.json";
    machineFile_ = folder_ + "/machine.json";
    ::setenv("VANTOR_USER_SETTINGS", userFile_.c_str(), 1);
    ::setenv("VANTOR_MACHINE_SETTINGS", machineFile_.c_str(), 1);
  }
  void TearDown() override {
    std::remove(machineFile_.c_str());
    std::remove((machineFile_ + ".lock").c_str());
    std::remove(userFile_.c_str());
    std::remove((userFile_ + ".lock").c_str());
    ::rmdir((folder_ + "/user").c_str());
    ::rmdir(folder_.c_str());
  }

  std::string folder_;
  std::string userFile_;
  std::string machineFile_;
};

TEST_F(SettingsTest, ValuesSurviveInTheRootFileAndNamesIgnoreCase) {
  const char* path = "Software\\vantor-automation\\CAN-CNC-Steuerung\\Corvel\\Settings";
  {
    auto key = SettingsKey::Create(SettingsRoot::CurrentUser, path);
    ASSERT_TRUE(key) << OsErrorName(key.error());
    EXPECT_EQ(key->WriteWord("SPRACHE", 1), OsError::Ok);
    EXPECT_EQ(key->WriteText("LastFile", "C:\\Maschine\\Fraese 1.ini"), OsError::Ok);
  }
  auto key = SettingsKey::Open(SettingsRoot::CurrentUser,
                               "software\\VANTOR-AUTOMATION\\can-cnc-steuerung\\corvel\\settings",
                               SettingsAccess::Read);
  ASSERT_TRUE(key);
  EXPECT_EQ(key->ReadWord("sprache"), 1u);
  EXPECT_EQ(key->ReadText("lastfile"), "C:\\Maschine\\Fraese 1.ini");
  EXPECT_EQ(key->ReadWord("LastFile"), std::nullopt) << "a text is no word";
  EXPECT_EQ(key->ReadText("Missing"), std::nullopt);
  EXPECT_EQ(key->WriteWord("SPRACHE", 0), OsError::AccessDenied) << "opened for reading";
  EXPECT_EQ(key->ValueNames().size(), 2u);
  // Parents were created on the way.
  EXPECT_TRUE(SettingsKey::Open(SettingsRoot::CurrentUser, "Software\\vantor-automation",
                                SettingsAccess::Read));
}

TEST_F(SettingsTest, RootsAreSeparateAndAbsentKeysAreNotFound) {
  auto user = SettingsKey::Create(SettingsRoot::CurrentUser, "Software\\Probex");
  ASSERT_TRUE(user);
  EXPECT_EQ(SettingsKey::Open(SettingsRoot::LocalMachine, "Software\\Probex", SettingsAccess::Read)
                .error(),
            OsError::NotFound);
  EXPECT_EQ(SettingsKey::Open(SettingsRoot::CurrentUser, "Software\\Other", SettingsAccess::Read)
                .error(),
            OsError::NotFound);
  EXPECT_EQ(SettingsKey::Open(SettingsRoot::CurrentUser, "\\\\", SettingsAccess::Read).error(),
            OsError::InvalidArgument);
}

TEST_F(SettingsTest, DeletingAValueRemovesOnlyIt) {
  auto key = SettingsKey::Create(SettingsRoot::LocalMachine,
                                 "SYSTEM\\CurrentControlSet\\Services\\Ravund");
  ASSERT_TRUE(key);
  ASSERT_EQ(key->WriteWord("ParallelPortNumber", 1), OsError::Ok);
  ASSERT_EQ(key->WriteWord("ParallelPortMode", 2), OsError::Ok);
  EXPECT_EQ(key->DeleteValue("parallelportnumber"), OsError::Ok);
  EXPECT_EQ(key->DeleteValue("ParallelPortNumber"), OsError::NotFound);
  EXPECT_EQ(key->ReadWord("ParallelPortNumber"), std::nullopt);
  EXPECT_EQ(key->ReadWord("ParallelPortMode"), 2u);
}

TEST_F(SettingsTest, AReadOnlyRootRefusesWritingAccess) {
  {
    auto key = SettingsKey::Create(SettingsRoot::LocalMachine, "SYSTEM\\Services\\Ravund");
    ASSERT_TRUE(key);
  }
  ASSERT_EQ(::chmod(machineFile_.c_str(), 0400), 0);
  if (::access(machineFile_.c_str(), W_OK) == 0) GTEST_SKIP() << "running with override rights";
  EXPECT_EQ(SettingsKey::Open(SettingsRoot::LocalMachine, "SYSTEM\\Services\\Ravund",
                              SettingsAccess::ReadWrite)
                .error(),
            OsError::AccessDenied);
  EXPECT_TRUE(SettingsKey::Open(SettingsRoot::LocalMachine, "SYSTEM\\Services\\Ravund",
                                SettingsAccess::Read));
}

TEST_F(SettingsTest, ACorruptRootIsNeverOverwritten) {
  ::mkdir((folder_ + "/user").c_str(), 0700);
  std::ofstream(userFile_) << "{ this is not json";
  EXPECT_EQ(SettingsKey::Create(SettingsRoot::CurrentUser, "Software\\Probex").error(),
            OsError::SystemError);
  std::ifstream in(userFile_);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "{ this is not json");
}

}  // namespace
}  // namespace vantor::os
