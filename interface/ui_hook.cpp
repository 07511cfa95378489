#include "interface/ui_hook.h"

#include <atomic>
#include <string>

#include "platform/os/debug_output.h"

namespace vantor::interface {
namespace {

std::atomic<MessageHook> messageHook{nullptr};

}  // namespace

void SetMessageHook(MessageHook hook) { messageHook.store(hook); }

void ShowLibraryMessage(std::string_view caption, std::string_view text) {
  if (const MessageHook hook = messageHook.load()) {
    hook(caption, text);
    return;
  }
  std::string line(caption);
  line += ": ";
  line += text;
  line += '\n';
  os::OutputDebugText(line);
}

}  // namespace vantor::interface
