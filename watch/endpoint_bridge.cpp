#include "watch/endpoint_bridge.h"

#include <QMetaObject>
#include <QObject>

namespace vantor::watch {

EndpointBridge::~EndpointBridge() { Stop(); }

os::OsError EndpointBridge::Open() {
  auto loop = os::MessageLoop::Create();
  if (!loop) return loop.error();
  loop_ = loop.take();
  return os::OsError::Ok;
}

void EndpointBridge::Start(QObject* context, Receiver receiver) {
  if (!loop_.valid() || thread_.joinable() || context == nullptr) return;
  thread_ = std::thread([this, context, receiver = std::move(receiver)] {
    loop_.Run([context, &receiver](const os::Command& command) {
      QMetaObject::invokeMethod(
          context, [receiver, command] { receiver(command); }, Qt::QueuedConnection);
    });
  });
}

void EndpointBridge::Stop() {
  if (!thread_.joinable()) return;
  loop_.Quit();
  thread_.join();
}

}  // namespace vantor::watch
