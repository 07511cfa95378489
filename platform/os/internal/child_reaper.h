// Reaps children whose process handles were closed while they still ran,
// so that no zombie stays behind.
#pragma once

namespace vantor::os::internal {

// Takes over `pidfd` (a pidfd of a child of this process) and reaps the
// child when it ends, on a helper thread started on first use.
void ReapWhenEnded(int pidfd);

}  // namespace vantor::os::internal
