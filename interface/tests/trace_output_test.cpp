#include "interface/trace_output.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vantor::interface {
namespace {

TEST(TraceOutputTest, TracingIsOffAfterResetAndWithoutNames) {
  TraceState trace;
  trace.Reset("tarnis1");
  EXPECT_FALSE(trace.TracingOn());
  trace.SetFilter(false, "prefix", 0, nullptr);
  EXPECT_FALSE(trace.TracingOn());
  EXPECT_FALSE(trace.Selects("mctl_Setup"));
  const char* const emptyNames[] = {nullptr, ""};
  trace.SetFilter(false, nullptr, 2, emptyNames);
  EXPECT_FALSE(trace.TracingOn());
}

struct FilterCase {
  bool allFlag;
  std::vector<const char*> names;
  const char* exportName;
  bool traced;
};

TEST(TraceOutputTest, FilterSelectsListedExportsOrAllButThem) {
  const FilterCase cases[] = {
      {false, {"mctl_GetStatus"}, "mctl_GetStatus", true},
      {false, {"mctl_GetStatus"}, "mctl_Setup", false},
      {false, {"MCTL_GETSTATUS"}, "mctl_GetStatus", true},
      {true, {"mctl_GetStatus"}, "mctl_GetStatus", false},
      {true, {"MCTL_GETSTATUS"}, "mctl_GetStatus", false},
      {true, {"mctl_GetStatus"}, "mctl_Setup", true},
      {true, {}, "mctl_Setup", true},
      // Only five slots exist: a sixth name is not kept.
      {false, {"a", "b", "c", "d", "e", "mctl_Setup"}, "mctl_Setup", false},
      {false, {nullptr, "mctl_Setup"}, "mctl_Setup", true},
  };
  for (const auto& c : cases) {
    TraceState trace;
    trace.Reset("tarnis1");
    trace.SetFilter(c.allFlag, nullptr, static_cast<std::uint32_t>(c.names.size()),
                    c.names.empty() ? nullptr : c.names.data());
    EXPECT_EQ(trace.Selects(c.exportName), c.traced)
        << c.allFlag << " " << c.exportName << " names " << c.names.size();
  }
}

TEST(TraceOutputTest, LineCarriesPrefixDeviceExportEdgeAndTime) {
  TraceState trace;
  trace.Reset("tarnis1");
  trace.SetReferenceClock(9, 5, 3);
  EXPECT_EQ(trace.FormatLine(TraceEdge::Entry, "mctl_Setup", 250),
            "tarnis1 - mctl_Setup - Entry   09:05:03.250\n\r");
  EXPECT_EQ(trace.FormatLine(TraceEdge::Exit, "mctl_Setup", 57250),
            "tarnis1 - mctl_Setup - Exit    09:06:00.250\n\r");
  trace.SetReferenceClock(23, 59, 59);
  EXPECT_EQ(trace.FormatLine(TraceEdge::Exit, "mctl_Exit", 1001),
            "tarnis1 - mctl_Exit - Exit    00:00:00.001\n\r");

  const std::string longPrefix(60, 'p');
  const char* const names[] = {"mctl_Exit"};
  trace.SetFilter(false, longPrefix.c_str(), 1, names);
  trace.SetReferenceClock(0, 0, 0);
  EXPECT_EQ(trace.FormatLine(TraceEdge::Entry, "mctl_Exit", 0),
            std::string(50, 'p') + " - tarnis1 - mctl_Exit - Entry   00:00:00.000\n\r");
}

}  // namespace
}  // namespace vantor::interface
