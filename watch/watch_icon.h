// The watching program's icon (131), drawn rather than loaded so that the
// program needs no file beside it.
#pragma once

#include <QIcon>

namespace vantor::watch {

QIcon WatchIcon();

}  // namespace vantor::watch
