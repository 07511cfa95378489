#include "platform/devhost/control_endpoint.h"
#include "platform/devhost/control_answer.h"
#include "platform/devhost/control_words.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "platform/os/runtime_dir.h"

namespace vantor::devhost {

namespace {

constexpr std::size_t kMaxCommandLength = 4096;
constexpr auto kDeferredCallsGrace = std::chrono::seconds(10);

}  // namespace

ControlEndpoint::ControlEndpoint(DriverHost& host, VirtualClock* virtualClock)
    : host_(host), virtualClock_(virtualClock) {
  AddBuiltInCommands();
}

ControlEndpoint::~ControlEndpoint() { Stop(); }

void ControlEndpoint::AddBuiltInCommands() {
  host_.AddControlCommand(
      "now", [this](std::string_view) { return std::to_string(host_.GetClock().Now()); });
  host_.AddControlCommand("step", [this](std::string_view arguments) -> std::string {
    if (virtualClock_ == nullptr) return "error: real clock";
    std::int64_t microseconds = 0;
    if (!ParseControlNumber(arguments, microseconds) || microseconds < 0 ||
        microseconds > kWaitForever / kTicksPerMicrosecond) {
      return "error: step needs microseconds";
    }
    virtualClock_->Advance(MicrosecondsToTicks(microseconds));
    if (!host_.WaitDeferredCallsIdle(std::chrono::steady_clock::now() + kDeferredCallsGrace)) {
      return "error: deferred calls still running";
    }
    return "ok " + std::to_string(host_.GetClock().Now());
  });
  host_.AddControlCommand("access-log", [this](std::string_view arguments) -> std::string {
    AccessLog& log = host_.Hardware().Log();
    if (arguments == "on" || arguments == "off") {
      log.Enable(arguments == "on");
      return "ok";
    }
    if (!arguments.empty()) return "error: access-log takes on, off or nothing";
    std::string text;
    for (const auto& record : log.Take()) text += FormatAccessRecord(record) + "\n";
    return text;
  });
  host_.AddControlCommand("devices", [this](std::string_view) { return host_.DeviceNames(); });
  host_.AddControlCommand("parameter", [this](std::string_view arguments) -> std::string {
    const auto words = ControlWords(arguments);
    std::uint32_t value = 0;
    if (words.size() != 3 || !ParseControlNumber(words[2], value)) {
      return "error: parameter needs key, name and value";
    }
    host_.Parameters().SetDword(words[0], words[1], value);
    return "ok";
  });
}

bool ControlEndpoint::StartInRuntimeDirectory(std::string& error) {
  auto folder = os::RuntimeDirectory();
  if (!folder) {
    error = "no runtime folder: " + std::string(os::OsErrorName(folder.error()));
    return false;
  }
  return Start(*folder + "/" + std::string(kControlSocketFileName), error);
}

bool ControlEndpoint::Start(const std::string& socketPath, std::string& error) {
  return listener_.Start(
      socketPath, [this](int fd) { Accept(fd); }, error);
}

void ControlEndpoint::Stop() {
  listener_.Stop();
  std::list<Session> sessions;
  {
    std::lock_guard lock(sessionsMutex_);
    for (Session& session : sessions_) {
      if (!session.ended) ::shutdown(session.fd, SHUT_RDWR);
    }
    sessions.splice(sessions.end(), sessions_);
  }
  for (Session& session : sessions) session.thread.join();
}

void ControlEndpoint::ReapEnded() {
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    if (it->ended) {
      it->thread.join();
      it = sessions_.erase(it);
    } else {
      ++it;
    }
  }
}

void ControlEndpoint::Accept(int connectedFd) {
  std::lock_guard lock(sessionsMutex_);
  ReapEnded();
  Session& session = sessions_.emplace_back(Session{connectedFd, {}});
  session.thread = std::thread([this, connectedFd] { Serve(connectedFd); });
}

void ControlEndpoint::Serve(int fd) {
  std::vector<char> buffer(kMaxCommandLength + 1);
  for (;;) {
    const ssize_t received = ::recv(fd, buffer.data(), buffer.size(), MSG_TRUNC);
    if (received < 0 && errno == EINTR) continue;
    if (received <= 0) break;
    std::string reply;
    if (static_cast<std::size_t>(received) > kMaxCommandLength) {
      reply = "error: command too long";
    } else {
      std::string_view line(buffer.data(), static_cast<std::size_t>(received));
      while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
      reply = host_.RunControlCommand(line);
    }
    // No command gets near the bound; should one ever pass it, its caller
    // hears so instead of an answer its reader refuses.
    if (reply.size() > kMaxControlAnswerBytes) reply = "error: answer too long";
    if (!SendControlAnswer(fd, reply)) break;
  }
  std::lock_guard lock(sessionsMutex_);
  for (Session& session : sessions_) {
    if (session.fd == fd && !session.ended) session.ended = true;
  }
  ::close(fd);
}

}  // namespace vantor::devhost
