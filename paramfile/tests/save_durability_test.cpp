// Saving a parameter file under crashes and power loss. This program is linked
// with fsync and rename wrapped (see CMakeLists.txt), so that a test can see
// the order of those calls and can end a saving process at a chosen point.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "paramfile/paramfile.h"
#include "test_support.h"

namespace {

// What the wrapped calls do: note themselves in the journal, and end the
// process at the first fsync of a temporary file when asked to.
std::vector<std::string>* journal = nullptr;
bool killAtTemporarySync = false;

std::string PathOfDescriptor(int descriptor) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", descriptor);
    char target[4096];
    const auto length = ::readlink(link, target, sizeof target - 1);
    return length < 0 ? std::string("?") : std::string(target, static_cast<std::size_t>(length));
}

}  // namespace

extern "C" int __real_fsync(int descriptor);
extern "C" int __real_rename(const char* from, const char* to);

extern "C" int __wrap_fsync(int descriptor) {
    if (journal != nullptr || killAtTemporarySync) {
        const auto path = PathOfDescriptor(descriptor);
        if (killAtTemporarySync && path.find(".tmp-") != std::string::npos) ::raise(SIGKILL);
        if (journal != nullptr) journal->push_back("fsync " + path);
    }
    return __real_fsync(descriptor);
}

extern "C" int __wrap_rename(const char* from, const char* to) {
    const int result = __real_rename(from, to);
    if (journal != nullptr) journal->push_back(std::string("rename ") + from + " " + to);
    return result;
}

namespace vantor::paramfile {
namespace {

using testing::ReadFile;
using testing::TempFolder;

ParameterList ListWithRemark(const std::string& remark) {
    auto list = CreateDefaultParameterList(InitialisationFileSchema());
    EXPECT_EQ(SetParameterString(list, "Remarks", "Remark", remark), AccessResult::Ok);
    return list;
}

std::vector<std::string> EntriesOf(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

std::size_t TemporariesOf(const std::filesystem::path& folder, const std::string& fileName) {
    std::size_t count = 0;
    for (const auto& name : EntriesOf(folder)) {
        if (name.starts_with(fileName + ".tmp-")) ++count;
    }
    return count;
}

// A process id that no process has now: a child that has ended and been reaped.
pid_t EndedProcessId() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    return child;
}

TEST(SaveParameterFile, SyncsTheNewFileBeforeTheRenameAndTheFolderAfterIt) {
    TempFolder folder;
    const auto path = std::filesystem::weakly_canonical(folder / "machine.ini");
    std::vector<std::string> calls;
    journal = &calls;
    const auto result = WriteParameterFile(path, ListWithRemark("new"));
    journal = nullptr;
    ASSERT_EQ(result, WriteError::None);

    ASSERT_EQ(calls.size(), 3u) << ::testing::PrintToString(calls);
    const std::string temporaryPrefix = path.string() + ".tmp-";
    EXPECT_TRUE(calls[0].starts_with("fsync " + temporaryPrefix)) << calls[0];
    const auto temporary = calls[0].substr(6);
    EXPECT_EQ(calls[1], "rename " + temporary + " " + path.string());
    EXPECT_EQ(calls[2], "fsync " + path.parent_path().string());
}

// The name format is what the clean-up relies on: only these names are ever removed.
TEST(SaveParameterFile, RecognisesOnlyItsOwnTemporaryNames) {
    EXPECT_EQ(TemporaryFileName("machine.ini", 4321, 0xABCDEFull), "machine.ini.tmp-4321-0000000000abcdef");
    EXPECT_EQ(TemporaryFileWriter(TemporaryFileName("machine.ini", 4321, ~0ull), "machine.ini"), 4321);
    const char* foreign[] = {
        "machine.ini",
        "machine.ini.tmp-",
        "machine.ini.tmp-4321-0000000000abcde",     // 15 digits
        "machine.ini.tmp-4321-0000000000abcdef0",   // 17 digits
        "machine.ini.tmp-4321-0000000000ABCDEF",    // upper case
        "machine.ini.tmp--0000000000abcdef",        // no process id
        "machine.ini.tmp-0-0000000000abcdef",       // process id 0 names a group
        "machine.ini.tmp--1-0000000000abcdef",      // negative
        "machine.ini.tmp-12345678901-0000000000abcdef",
        "machine.ini.tmp-4x21-0000000000abcdef",
        "machine.ini.tmp-0000000000abcdef",         // an older writer's name
        "other.ini.tmp-4321-0000000000abcdef",
        "xmachine.ini.tmp-4321-0000000000abcdef",
        "machine.ini.bak",
    };
    for (const char* name : foreign) EXPECT_FALSE(TemporaryFileWriter(name, "machine.ini")) << name;
    EXPECT_FALSE(TemporaryFileWriter("machine.ini.tmp-4321-0000000000abcdef", ""));
}

TEST(SaveParameterFile, RemovesOnlyThisFilesTemporariesOfEndedWriters) {
    TempFolder folder;
    const auto path = folder / "machine.ini";
    const pid_t ended = EndedProcessId();
    const std::string leftover = TemporaryFileName("machine.ini", ended, 1);
    const std::vector<std::string> kept = {
        TemporaryFileName("machine.ini", ::getpid(), 2),  // its writer still runs
        TemporaryFileName("other.ini", ended, 3),         // another file's
        "machine.ini.tmp-0000000000000004",               // not named by this writer
        "machine.ini.bak",
    };
    testing::WriteFile(folder / leftover, "torn");
    for (const auto& name : kept) testing::WriteFile(folder / name, "keep");

    ASSERT_EQ(WriteParameterFile(path, ListWithRemark("new")), WriteError::None);
    auto expected = kept;
    expected.push_back("machine.ini");
    auto entries = EntriesOf(folder.path());
    std::sort(entries.begin(), entries.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(entries, expected);
}

// Saving processes killed at random moments, and at the point where the new
// file is complete but not yet renamed: after each, the file is the old one or
// the new one byte for byte, and a later save removes what they left behind.
TEST(SaveParameterFile, KilledSavesLeaveTheOldOrTheNewFileAndNoLitter) {
    constexpr int kTries = 120;
    constexpr unsigned kSeed = 1;
    std::mt19937 random(kSeed);
    RecordProperty("seed", static_cast<int>(kSeed));

    TempFolder folder;
    const auto path = folder / "machine.ini";
    std::vector<std::string> texts;
    texts.push_back(FormatParameterText(ListWithRemark("save 0")));
    // The kills spread over about twice the time a whole save in a child
    // takes here, so that some land in every part of it and some after it.
    const auto started = std::chrono::steady_clock::now();
    const pid_t first = ::fork();
    ASSERT_GE(first, 0);
    if (first == 0) {
        ::_exit(WriteParameterFile(path, ListWithRemark("save 0")) == WriteError::None ? 0 : 1);
    }
    int firstStatus = 0;
    ASSERT_EQ(::waitpid(first, &firstStatus, 0), first);
    ASSERT_TRUE(WIFEXITED(firstStatus) && WEXITSTATUS(firstStatus) == 0);
    const auto saveTime = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - started);
    std::uniform_int_distribution<long> delay_us(0, 2 * saveTime.count() + 100);

    std::size_t current = 0;
    std::size_t mostLeftovers = 0;
    int completed = 0;
    for (int attempt = 1; attempt <= kTries; ++attempt) {
        const auto list = ListWithRemark("save " + std::to_string(attempt));
        texts.push_back(FormatParameterText(list));
        const bool stopBeforeRename = attempt % 3 == 0;
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            killAtTemporarySync = stopBeforeRename;
            ::_exit(WriteParameterFile(path, list) == WriteError::None ? 0 : 1);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(delay_us(random)));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        if (WIFEXITED(status)) {
            ASSERT_EQ(WEXITSTATUS(status), 0) << "try " << attempt;
            ++completed;
        }

        const auto text = ReadFile(path);
        if (text == texts[static_cast<std::size_t>(attempt)]) {
            current = static_cast<std::size_t>(attempt);
        } else {
            ASSERT_EQ(text, texts[current]) << "try " << attempt << ": neither old nor new";
        }
        if (stopBeforeRename) {
            ASSERT_NE(current, static_cast<std::size_t>(attempt)) << "renamed before its sync";
        }
        // Each save clears what earlier ones left before it makes its own.
        const auto leftovers = TemporariesOf(folder.path(), "machine.ini");
        ASSERT_LE(leftovers, 1u) << "try " << attempt;
        mostLeftovers = std::max(mostLeftovers, leftovers);
    }
    EXPECT_GT(mostLeftovers, 0u) << "no save was ever cut short";
    std::cout << "killed saves: " << kTries - completed << " of " << kTries << " cut short (a save takes "
              << saveTime.count() << " us), at most " << mostLeftovers << " temporaries at once\n";

    const auto last = ListWithRemark("last");
    ASSERT_EQ(WriteParameterFile(path, last), WriteError::None);
    EXPECT_EQ(ReadFile(path), FormatParameterText(last));
    EXPECT_EQ(TemporariesOf(folder.path(), "machine.ini"), 0u);
}

}  // namespace
}  // namespace vantor::paramfile
