// Many applications on one channel: 1, 20 and 100 applications (or the
// counts given) each upload the device type of node 1 in a loop through a
// real kernel on the simulated machine, all at once for a fixed time.
// Prints for each count the channel's throughput, the CPU time spent per
// upload by the applications, the kernel and the driver host together,
// the 99th percentile of an upload's latency, and the fewest and mean
// uploads of one application.
//
//   link_load_bench [seconds per count] [application counts...]
//
// Goals: with 100 applications, throughput at least 90% of one
// application's, CPU per upload at most twice one application's, and the
// fewest uploads at least half the mean.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "interface/include/linkora.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string kProgramFolder = VANTOR_PROGRAM_FOLDER;
constexpr auto kStartLimit = 60s;
constexpr auto kEndLimit = 30s;
constexpr std::uint32_t kSdoTimeoutMicroseconds = 100000;
constexpr long kMaxApplications = 100;  // users of one channel

// Shared by the bench and its applications through a file of their own.
struct Control {
  std::uint32_t ready;    // applications attached to the channel
  std::uint32_t failed;   // applications that could not attach
  std::uint32_t go;       // 1: upload
  std::uint32_t stop;     // 1: leave
};

std::atomic_ref<std::uint32_t> Field(std::uint32_t& field) {
  return std::atomic_ref<std::uint32_t>(field);
}

Control* MapControl(const std::string& path, bool create) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT | O_TRUNC : 0), 0600);
  if (fd < 0) return nullptr;
  if (create && ::ftruncate(fd, sizeof(Control)) != 0) {
    ::close(fd);
    return nullptr;
  }
  void* memory = ::mmap(nullptr, sizeof(Control), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ::close(fd);
  return memory == MAP_FAILED ? nullptr : static_cast<Control*>(memory);
}

double CpuSecondsOfSelf() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// User and system time of another process from /proc; 0 when gone.
double CpuSecondsOf(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  double ticks = 0;
  // After the name: state is field 3, utime 14, stime 15.
  for (int number = 3; number <= 15 && fields >> field; ++number) {
    if (number >= 14) ticks += std::strtod(field.c_str(), nullptr);
  }
  return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// The kernel that serves the namespace: a process named Motrix whose
// environment names it.
pid_t FindKernel(const std::string& nameSpace) {
  const std::string marker = "VANTOR_NAMESPACE=" + nameSpace;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream comm(entry.path() / "comm");
    std::string command;
    if (!std::getline(comm, command) || command != "Motrix") continue;
    std::ifstream environ(entry.path() / "environ");
    std::string variables((std::istreambuf_iterator<char>(environ)),
                          std::istreambuf_iterator<char>());
    for (std::size_t at = 0; at < variables.size();) {
      const std::size_t end = variables.find('\0', at);
      if (variables.compare(at, end - at, marker) == 0) return static_cast<pid_t>(std::stoi(name));
      if (end == std::string::npos) break;
      at = end + 1;
    }
  }
  return -1;
}

// ---- One application ------------------------------------------------------

std::uint32_t Attach(const std::string& iniFile) {
  LinkoraCanHardwareParameters hardware{};
  LinkoraCanInitRecord record{};
  record.HardwareParameters = &hardware;
  const std::uint32_t status = cpctl_GetCanInitPar(&record, sizeof record, iniFile.c_str());
  if (status != LINKORA_SUCCESS) return status;
  std::string device = "tarnis1";
  std::string kernel = kProgramFolder + "/Motrix";
  std::string watch = kProgramFolder + "/Vigilo";
  record.DeviceName = device.data();
  record.KernelPath = kernel.data();
  record.WatchPath = watch.data();
  return cpctl_CanInitialize(&record, sizeof record);
}

std::uint32_t UploadDeviceType() {
  LinkoraSdoFrame frame{};
  frame.RequestCobId = 0x601;
  const std::uint8_t request[8] = {0x40, 0x00, 0x10, 0x00, 0, 0, 0, 0};
  std::memcpy(frame.RequestData, request, sizeof request);
  frame.RequestLength = 8;
  frame.ResponseCobId = 0x581;
  frame.Timeout = kSdoTimeoutMicroseconds;
  return cpctl_ComViaSdo(&frame, sizeof frame);
}

bool AwaitFlag(std::uint32_t& flag, std::chrono::seconds limit) {
  const auto deadline = Clock::now() + limit;
  while (Field(flag).load() == 0) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// Attaches, uploads from go to stop, writes "uploads cpu-seconds" and then
// one latency in microseconds per line.
int RunApplication(const std::string& controlPath, const std::string& iniFile,
                   const std::string& resultPath) {
  Control* control = MapControl(controlPath, false);
  if (control == nullptr) return 1;
  if (const std::uint32_t status = Attach(iniFile); status != LINKORA_SUCCESS) {
    std::ofstream(resultPath) << "attaching failed: " << std::hex << status;
    Field(control->failed).fetch_add(1);
    return 1;
  }
  Field(control->ready).fetch_add(1);
  std::vector<double> latencies;
  double cpu = 0;
  if (AwaitFlag(control->go, kStartLimit)) {
    latencies.reserve(4096);
    const double cpuAtGo = CpuSecondsOfSelf();
    while (Field(control->stop).load() == 0) {
      const auto start = Clock::now();
      const std::uint32_t status = UploadDeviceType();
      const auto end = Clock::now();
      if (status != LINKORA_SUCCESS || Field(control->stop).load() != 0) break;
      latencies.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    cpu = CpuSecondsOfSelf() - cpuAtGo;
  }
  AwaitFlag(control->stop, kStartLimit + kEndLimit);
  {
    std::ofstream out(resultPath);
    out << latencies.size() << ' ' << cpu << '\n';
    for (const double latency : latencies) out << latency << '\n';
  }
  cpctl_Exit();
  return 0;
}

// ---- The bench ------------------------------------------------------------

pid_t Spawn(const std::vector<std::string>& arguments) {
  const pid_t child = ::fork();
  if (child != 0) return child;
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
void Reap(pid_t child) {
  const auto deadline = Clock::now() + kEndLimit;
  while (::waitpid(child, nullptr, WNOHANG) == 0) {
    if (Clock::now() > deadline) {
      ::kill(child, SIGKILL);
      ::waitpid(child, nullptr, 0);
      return;
    }
    std::this_thread::sleep_for(2ms);
  }
}

std::string RuntimeFolder(const std::string& nameSpace) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime != '\0') return std::string(runtime) + "/vantor/" + nameSpace;
  return "/tmp/vantor-" + std::to_string(::getuid()) + "/" + nameSpace;
}

struct Figures {
  double uploadsPerSecond = 0;
  double cpuMsPerUpload = 0;
  double serverCpuMsPerUpload = 0;  // of that: the kernel and the driver host
  double p99Ms = 0;
  std::size_t fewest = 0;
  double mean = 0;
};

// One count of applications: the first to come starts the channel's kernel,
// the others attach; the kernel ends when the last has left. (A channel
// serves at most 100 applications.)
bool RunCount(const std::string& self, const std::string& work, const std::string& iniFile,
              pid_t devhost, const std::string& nameSpace, int applications,
              std::chrono::seconds length, Figures& figures) {
  const std::string controlPath = work + "/control-" + std::to_string(applications);
  Control* control = MapControl(controlPath, true);
  if (control == nullptr) return false;
  std::vector<pid_t> children;
  for (int i = 0; i < applications; ++i) {
    children.push_back(Spawn({self, "--app", controlPath, iniFile,
                              work + "/result-" + std::to_string(i)}));
  }
  const auto deadline = Clock::now() + kStartLimit;
  while (Field(control->ready).load() + Field(control->failed).load() <
             static_cast<std::uint32_t>(applications) &&
         Clock::now() < deadline) {
    std::this_thread::sleep_for(5ms);
  }
  const bool allReady = Field(control->ready).load() == static_cast<std::uint32_t>(applications);
  if (!allReady) {
    std::fprintf(stderr, "%u of %d applications attached, %u failed\n", Field(control->ready).load(),
                 applications, Field(control->failed).load());
  }
  const pid_t kernel = FindKernel(nameSpace);
  const double otherCpuAtGo = CpuSecondsOf(kernel) + CpuSecondsOf(devhost);
  const auto go = Clock::now();
  Field(control->go).store(allReady ? 1 : 0);
  if (allReady) std::this_thread::sleep_for(length);
  const double seconds = std::chrono::duration<double>(Clock::now() - go).count();
  const double otherCpu = CpuSecondsOf(kernel) + CpuSecondsOf(devhost) - otherCpuAtGo;
  Field(control->stop).store(1);
  for (const pid_t child : children) Reap(child);
  ::munmap(control, sizeof(Control));
  const auto kernelDeadline = Clock::now() + kEndLimit;
  while (FindKernel(nameSpace) > 0 && Clock::now() < kernelDeadline) {
    std::this_thread::sleep_for(10ms);
  }
  for (int i = 0; i < applications && !allReady; ++i) {
    std::ifstream in(work + "/result-" + std::to_string(i));
    std::string line;
    if (std::getline(in, line) && line.rfind("attaching", 0) == 0) {
      std::fprintf(stderr, "application %d: %s\n", i, line.c_str());
    }
  }
  if (!allReady) return false;

  std::vector<double> latencies;
  std::vector<std::size_t> counts;
  double cpu = otherCpu;
  for (int i = 0; i < applications; ++i) {
    std::ifstream in(work + "/result-" + std::to_string(i));
    std::size_t count = 0;
    double appCpu = 0;
    if (!(in >> count >> appCpu)) return false;
    counts.push_back(count);
    cpu += appCpu;
    double latency = 0;
    while (in >> latency) latencies.push_back(latency);
  }
  const std::size_t total = latencies.size();
  if (total == 0) return false;
  std::sort(latencies.begin(), latencies.end());
  figures.uploadsPerSecond = static_cast<double>(total) / seconds;
  figures.cpuMsPerUpload = cpu * 1000.0 / static_cast<double>(total);
  figures.serverCpuMsPerUpload = otherCpu * 1000.0 / static_cast<double>(total);
  figures.p99Ms = latencies[total * 99 / 100] / 1000.0;
  figures.fewest = *std::min_element(counts.begin(), counts.end());
  figures.mean = static_cast<double>(total) / applications;
  return true;
}

int RunBench(int argc, char** argv) {
  char selfPath[4096];
  const ssize_t length = ::readlink("/proc/self/exe", selfPath, sizeof selfPath - 1);
  if (length <= 0) return 1;
  selfPath[length] = '\0';
  const std::string self = selfPath;
  const long requestedSeconds = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 10;
  const std::chrono::seconds seconds(requestedSeconds > 0 ? requestedSeconds : 10);
  std::vector<int> counts;
  for (int i = 2; i < argc; ++i) {
    const long count = std::strtol(argv[i], nullptr, 10);
    if (count > 0 && count <= kMaxApplications) counts.push_back(static_cast<int>(count));
  }
  if (counts.empty()) counts = {1, 20, 100};

  const std::string nameSpace = "link-load-bench-" + std::to_string(::getpid());
  ::setenv("VANTOR_NAMESPACE", nameSpace.c_str(), 1);
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  char workTemplate[] = "/tmp/link-load-bench-XXXXXX";
  if (::mkdtemp(workTemplate) == nullptr) return 1;
  const std::string work = workTemplate;
  const std::string iniFile = kProgramFolder + "/machine.ini";

  const pid_t devhost = Spawn({VANTOR_DEVHOST_PROGRAM});
  const std::string socket = RuntimeFolder(nameSpace) + "/devhost.socket";
  const auto deadline = Clock::now() + kStartLimit;
  while (!std::filesystem::exists(socket) && Clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  bool ok = std::filesystem::exists(socket);
  if (!ok) std::fprintf(stderr, "the driver host did not start\n");

  std::printf("applications uploading in a loop for %lld s each, one channel:\n",
              static_cast<long long>(seconds.count()));
  std::printf("  apps  uploads/s  CPU ms/upload (kernel+devhost)  p99 ms  fewest  mean\n");
  Figures single{};
  for (const int applications : counts) {
    if (!ok) break;
    Figures figures{};
    if (!RunCount(self, work, iniFile, devhost, nameSpace, applications, seconds, figures)) {
      std::fprintf(stderr, "the run with %d applications failed\n", applications);
      ok = false;
      break;
    }
    if (applications == 1) single = figures;
    std::printf("  %4d  %9.1f  %13.2f (%14.2f)  %6.1f  %6zu  %6.1f", applications,
                figures.uploadsPerSecond, figures.cpuMsPerUpload, figures.serverCpuMsPerUpload,
                figures.p99Ms, figures.fewest, figures.mean);
    if (applications > 1 && single.uploadsPerSecond > 0) {
      std::printf("   throughput %.0f%% of one, CPU %.2fx one, fewest %.0f%% of mean",
                  100.0 * figures.uploadsPerSecond / single.uploadsPerSecond,
                  figures.cpuMsPerUpload / single.cpuMsPerUpload,
                  100.0 * static_cast<double>(figures.fewest) / figures.mean);
    }
    std::printf("\n");
    std::fflush(stdout);
  }
  ::kill(devhost, SIGTERM);
  Reap(devhost);
  std::filesystem::remove_all(work);
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "--app") == 0) {
    return RunApplication(argv[2], argv[3], argv[4]);
  }
  return RunBench(argc, argv);
}
