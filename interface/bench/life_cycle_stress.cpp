// Kills applications of a channel at the moments that used to leave a
// kernel, a watching program or a namespace behind, hundreds of times, and
// counts the tries that left anything behind.
//
//   life_cycle_stress [tries] [seed]
//
// Each try runs in a namespace of its own and cycles through four cases:
//   starter-leaves-first   A starts the channel, B attaches, A leaves, B leaves
//   starter-killed-first   the same with A killed instead of leaving
//   killed-in-exit         A is killed at a random moment of its exit; B then
//                          starts and leaves
//   killed-in-start        (real kernel over the driver host) A is killed at a
//                          random moment of its start-up; B then starts and
//                          leaves
// After a try every process of its namespace must end, and its runtime folder
// must go, within a few seconds. This program makes no named object itself,
// so it joins no namespace.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string kTestApp = VANTOR_LINKORA_TEST_APP;
const std::string kFakeKernel = VANTOR_FAKE_KERNEL;
const std::string kProgramFolder = VANTOR_PROGRAM_FOLDER;
const std::string kMotrix = kProgramFolder + "/Motrix";
const std::string kVigilo = kProgramFolder + "/Vigilo";
constexpr auto kSettleLimit = 15s;
constexpr auto kAnswerLimit = 30s;

std::string RuntimeFolder(const std::string& nameSpace) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime != '\0') {
    return std::string(runtime) + "/vantor/" + nameSpace;
  }
  return "/tmp/vantor-" + std::to_string(::getuid()) + "/" + nameSpace;
}

pid_t Spawn(const std::string& nameSpace, const std::vector<std::string>& arguments) {
  const pid_t child = ::fork();
  if (child != 0) return child;
  ::setenv("VANTOR_NAMESPACE", nameSpace.c_str(), 1);
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // The programs' own chatter would bury the counts.
  const int quiet = ::open("/dev/null", O_WRONLY);
  if (quiet >= 0) {
    ::dup2(quiet, STDOUT_FILENO);
    ::dup2(quiet, STDERR_FILENO);
  }
  std::vector<char*> argv;
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  ::execv(argv[0], argv.data());
  ::_exit(127);
}

// Reaps the child, killing it when it outlives the limit.
void Reap(pid_t child, std::chrono::seconds limit = kAnswerLimit) {
  const auto deadline = Clock::now() + limit;
  while (Clock::now() < deadline) {
    if (::waitpid(child, nullptr, WNOHANG) == child) return;
    std::this_thread::sleep_for(5ms);
  }
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
}

// Every process whose environment names this namespace, by name.
std::vector<std::string> ProcessesOf(const std::string& nameSpace) {
  std::vector<std::string> found;
  const std::string wanted = "VANTOR_NAMESPACE=" + nameSpace;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return found;
  while (const dirent* entry = ::readdir(proc)) {
    const std::string pid = entry->d_name;
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream environ("/proc/" + pid + "/environ", std::ios::binary);
    std::string variable;
    bool ours = false;
    while (!ours && std::getline(environ, variable, '\0')) ours = variable == wanted;
    if (!ours) continue;
    std::string name;
    std::ifstream("/proc/" + pid + "/comm") >> name;
    // A zombie of ours is reaped by the case; only live ones count.
    std::string state;
    std::ifstream stat("/proc/" + pid + "/stat");
    std::string skip;
    stat >> skip >> skip >> state;
    if (state != "Z") found.push_back(name + "(" + pid + ")");
  }
  ::closedir(proc);
  return found;
}

struct Leftovers {
  std::vector<std::string> processes;
  std::vector<std::string> files;
  bool folder = false;
  bool any() const { return !processes.empty() || folder; }
};

Leftovers AwaitSettled(const std::string& nameSpace) {
  const std::string folder = RuntimeFolder(nameSpace);
  const auto deadline = Clock::now() + kSettleLimit;
  Leftovers left;
  for (;;) {
    left = Leftovers{};
    left.processes = ProcessesOf(nameSpace);
    std::error_code error;
    left.folder = std::filesystem::exists(folder, error);
    if (left.folder) {
      for (const auto& file : std::filesystem::directory_iterator(folder, error)) {
        left.files.push_back(file.path().filename().string());
      }
    }
    if (!left.any() || Clock::now() > deadline) return left;
    std::this_thread::sleep_for(20ms);
  }
}

// One application process of the channel (the library's test application).
class Application {
 public:
  Application(std::string nameSpace, std::string folder, std::string name, std::string kernel)
      : nameSpace_(std::move(nameSpace)),
        results_(folder + "/" + name + ".results"),
        go_(folder + "/" + name + ".go"),
        kernel_(std::move(kernel)) {}

  void Start() {
    pid_ = Spawn(nameSpace_, {kTestApp, results_, go_, kernel_, kVigilo, "2", "1", "5", "0", "1"});
  }
  std::string AwaitLine(const std::string& what) const {
    const auto deadline = Clock::now() + kAnswerLimit;
    while (Clock::now() < deadline) {
      std::ifstream in(results_);
      std::string line;
      while (std::getline(in, line)) {
        if (line.rfind(what, 0) == 0) return line;
      }
      if (pid_ > 0 && ::kill(pid_, 0) != 0) break;
      std::this_thread::sleep_for(5ms);
    }
    return "none";
  }
  bool Started() const { return AwaitLine("init") == "init 09140000"; }
  void Leave() const { std::ofstream(go_) << "exit"; }
  void Kill() const { ::kill(pid_, SIGKILL); }
  void Reap() const { ::Reap(pid_); }
  pid_t pid() const { return pid_; }

 private:
  std::string nameSpace_;
  std::string results_;
  std::string go_;
  std::string kernel_;
  pid_t pid_ = -1;
};

enum class Case { StarterLeavesFirst, StarterKilledFirst, KilledInExit, KilledInStart, Count };

const char* CaseName(Case c) {
  switch (c) {
    case Case::StarterLeavesFirst: return "starter-leaves-first";
    case Case::StarterKilledFirst: return "starter-killed-first";
    case Case::KilledInExit: return "killed-in-exit";
    case Case::KilledInStart: return "killed-in-start";
    default: return "?";
  }
}

// The driver host of a namespace, serving once its device socket is there.
pid_t StartDevhost(const std::string& nameSpace) {
#ifdef VANTOR_DEVHOST_PROGRAM
  const pid_t devhost = Spawn(nameSpace, {VANTOR_DEVHOST_PROGRAM});
  const std::string socket = RuntimeFolder(nameSpace) + "/devhost.socket";
  const auto deadline = Clock::now() + kAnswerLimit;
  while (!std::filesystem::exists(socket) && Clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  return devhost;
#else
  static_cast<void>(nameSpace);
  return -1;
#endif
}

void StopDevhost(pid_t devhost) {
  if (devhost <= 0) return;
  ::kill(devhost, SIGTERM);
  Reap(devhost);
}

// Runs one case; false when a start that had to succeed did not.
bool RunCase(Case c, const std::string& nameSpace, const std::string& folder, std::mt19937& random) {
  const bool realChain = c == Case::KilledInStart;
  const std::string kernel = realChain ? kMotrix : kFakeKernel;
  const pid_t devhost = realChain ? StartDevhost(nameSpace) : -1;
  Application a(nameSpace, folder, "a", kernel);
  Application b(nameSpace, folder, "b", kernel);
  bool ok = true;
  switch (c) {
    case Case::StarterLeavesFirst:
    case Case::StarterKilledFirst:
      a.Start();
      ok = a.Started();
      b.Start();
      ok = b.Started() && ok;
      if (c == Case::StarterLeavesFirst) {
        a.Leave();
        ok = a.AwaitLine("exit") == "exit 09140000" && ok;
      } else {
        a.Kill();
      }
      a.Reap();
      b.Leave();
      b.Reap();
      break;
    case Case::KilledInExit:
    case Case::KilledInStart: {
      a.Start();
      if (c == Case::KilledInExit) {
        ok = a.Started();
        a.Leave();
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 30000));
      } else {
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 400000));
      }
      a.Kill();
      a.Reap();
      // What the killed one left must end by itself before B can start
      // cleanly; B waits for nothing by hand but the settling.
      const auto deadline = Clock::now() + kSettleLimit;
      std::vector<std::string> others;
      do {
        others.clear();
        for (const auto& process : ProcessesOf(nameSpace)) {
          if (process.rfind("devhost", 0) != 0) others.push_back(process);
        }
        if (!others.empty()) std::this_thread::sleep_for(20ms);
      } while (!others.empty() && Clock::now() < deadline);
      b.Start();
      ok = b.Started() && ok;
      b.Leave();
      b.Reap();
      break;
    }
    default:
      break;
  }
  StopDevhost(devhost);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const int tries = argc > 1 ? std::atoi(argv[1]) : 100;
  const unsigned seed = argc > 2 ? static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10))
                                 : static_cast<unsigned>(::getpid());
  std::mt19937 random(seed);
  std::printf("life_cycle_stress: %d tries, seed %u\n", tries, seed);
#ifndef VANTOR_DEVHOST_PROGRAM
  std::printf("built without the driver host: killed-in-start is skipped\n");
#endif
  const auto scratch = std::filesystem::temp_directory_path() /
                       ("life-cycle-stress-" + std::to_string(::getpid()));
  std::filesystem::create_directories(scratch);

  int leftBehind = 0;
  int failedStarts = 0;
  int caseCount = static_cast<int>(Case::Count);
#ifndef VANTOR_DEVHOST_PROGRAM
  caseCount -= 1;
#endif
  for (int attempt = 0; attempt < tries; ++attempt) {
    const Case c = static_cast<Case>(attempt % caseCount);
    const std::string nameSpace =
        "life-stress-" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
    const auto folder = scratch / std::to_string(attempt);
    std::filesystem::create_directories(folder);
    const bool ok = RunCase(c, nameSpace, folder.string(), random);
    const Leftovers left = AwaitSettled(nameSpace);
    if (!ok) ++failedStarts;
    if (left.any()) {
      ++leftBehind;
      std::printf("try %d (%s) left:", attempt, CaseName(c));
      for (const auto& process : left.processes) std::printf(" %s", process.c_str());
      if (left.folder) {
        std::printf(" folder[");
        for (const auto& file : left.files) std::printf(" %s", file.c_str());
        std::printf(" ]");
      }
      std::printf("\n");
      // Clean up by hand so that the next tries are not disturbed.
      for (const auto& process : left.processes) {
        const auto open = process.find('(');
        ::kill(std::atoi(process.c_str() + open + 1), SIGKILL);
      }
      std::error_code error;
      std::filesystem::remove_all(RuntimeFolder(nameSpace), error);
    }
    if (!ok) std::printf("try %d (%s): a start that had to succeed failed\n", attempt, CaseName(c));
    std::fflush(stdout);
  }
  std::error_code error;
  std::filesystem::remove_all(scratch, error);
  std::printf("tries %d, left something behind %d, failed starts %d\n", tries, leftBehind,
              failedStarts);
  return leftBehind == 0 && failedStarts == 0 ? 0 : 1;
}
