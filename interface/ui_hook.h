// The library's messages to the user (message boxes, the Info dialog).
//
// Without a registered hook the library runs headless: the text goes to
// the debug output and the answer is OK. Desktop programs register a hook
// that shows a real dialog.
#pragma once

#include <string_view>

namespace vantor::interface {

using MessageHook = void (*)(std::string_view caption, std::string_view text);

void SetMessageHook(MessageHook hook);
void ShowLibraryMessage(std::string_view caption, std::string_view text);

}  // namespace vantor::interface
