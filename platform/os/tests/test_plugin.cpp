// A plug-in for the loading test: one C export with a known answer.
extern "C" int VantorTestPluginAnswer() { return 42; }
