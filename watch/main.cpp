#include "watch/watch_app.h"

int main(int argc, char** argv) { return static_cast<int>(vantor::watch::RunWatch(argc, argv)); }
