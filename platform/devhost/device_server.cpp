#include "platform/devhost/device_server.h"

#include "platform/devhost/client_connection.h"
#include "platform/os/runtime_dir.h"

namespace vantor::devhost {

DeviceServer::DeviceServer(DriverHost& host) : host_(host) {}

DeviceServer::~DeviceServer() { Stop(); }

bool DeviceServer::StartInRuntimeDirectory(std::string& error) {
  auto folder = os::RuntimeDirectory();
  if (!folder) {
    error = "no runtime folder: " + std::string(os::OsErrorName(folder.error()));
    return false;
  }
  return Start(*folder + "/" + std::string(os::device_wire::kSocketFileName), error);
}

bool DeviceServer::Start(const std::string& socketPath, std::string& error) {
  return listener_.Start(
      socketPath, [this](int fd) { Accept(fd); }, error);
}

void DeviceServer::Stop() {
  listener_.Stop();
  std::vector<std::shared_ptr<ClientConnection>> connections;
  {
    std::lock_guard lock(connectionsMutex_);
    connections.swap(connections_);
  }
  for (const auto& connection : connections) connection->Shutdown();
  for (const auto& connection : connections) connection->Join();
}

std::size_t DeviceServer::ConnectionCount() {
  std::lock_guard lock(connectionsMutex_);
  ReapFinished();
  return connections_.size();
}

void DeviceServer::ReapFinished() {
  for (auto it = connections_.begin(); it != connections_.end();) {
    if ((*it)->Finished()) {
      (*it)->Join();
      it = connections_.erase(it);
    } else {
      ++it;
    }
  }
}

void DeviceServer::Accept(int connectedFd) {
  auto connection = std::make_shared<ClientConnection>(host_, connectedFd);
  std::lock_guard lock(connectionsMutex_);
  ReapFinished();
  connections_.push_back(connection);
  connection->StartReading();
}

}  // namespace vantor::devhost
