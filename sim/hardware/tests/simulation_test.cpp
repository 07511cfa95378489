#include "sim/hardware/simulation.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace vantor::sim {
namespace {

// A model with fixed event times that notes when it was run.
class Timetable : public TimedModel {
 public:
  explicit Timetable(std::vector<SimTime> events) : events_(std::move(events)) {}

  SimTime NextDeadline() const override { return next_ < events_.size() ? events_[next_] : kNever; }
  void AdvanceTo(SimTime now) override {
    ++runs;
    while (next_ < events_.size() && events_[next_] <= now) {
      fired.push_back(now);
      ++next_;
      if (on_event) on_event(now);
    }
  }

  std::vector<SimTime> fired;
  int runs = 0;  // calls to AdvanceTo
  std::function<void(SimTime)> on_event;

 private:
  std::vector<SimTime> events_;
  std::size_t next_ = 0;
};

TEST(Simulation, RunsEveryModelsEventsInTimeOrderAtTheirOwnTimes) {
  Simulation simulation;
  Timetable a({10, 30});
  Timetable b({20, 40});
  simulation.Add(&a);
  simulation.Add(&b);
  simulation.AdvanceTo(35);
  EXPECT_EQ(a.fired, (std::vector<SimTime>{10, 30}));
  EXPECT_EQ(b.fired, (std::vector<SimTime>{20}));
  EXPECT_EQ(simulation.Now(), 35U);
  EXPECT_EQ(simulation.NextDeadline(), 40U);
  simulation.AdvanceTo(5);
  EXPECT_EQ(simulation.Now(), 35U) << "time never goes back";
}

TEST(Simulation, AdvanceFromInsideAnEventIsCaughtUpAfterwards) {
  Simulation simulation;
  Timetable a({10});
  Timetable b({50});
  a.on_event = [&](SimTime now) { simulation.AdvanceTo(now + 60); };
  simulation.Add(&a);
  simulation.Add(&b);
  simulation.AdvanceTo(20);
  EXPECT_EQ(simulation.Now(), 70U);
  EXPECT_EQ(b.fired, (std::vector<SimTime>{50}));
}

TEST(Simulation, RegisterAccessCostMovesTheClock) {
  Simulation simulation;
  Timetable a({300});
  simulation.Add(&a);
  simulation.SetRegisterAccessCost(200);
  simulation.ChargeRegisterAccess();
  EXPECT_TRUE(a.fired.empty());
  simulation.ChargeRegisterAccess();
  EXPECT_EQ(a.fired, (std::vector<SimTime>{300}));
  EXPECT_EQ(simulation.Now(), 400U);
  simulation.Remove(&a);
  EXPECT_EQ(simulation.NextDeadline(), kNever);
}

// Stepping every model on every call costs the host a pass over the whole
// machine for each register access; a model is run only when there is
// something for it to do.
TEST(Simulation, ModelsRunOnlyWhenTimeMovesOrAnEventIsDue) {
  Simulation simulation;
  Timetable a({100});
  simulation.Add(&a);
  simulation.AdvanceTo(50);
  const int afterMove = a.runs;
  EXPECT_GT(afterMove, 0);

  simulation.AdvanceTo(50);
  simulation.AdvanceTo(20);
  simulation.ChargeRegisterAccess();  // costs nothing by default
  EXPECT_EQ(a.runs, afterMove) << "no time passed and nothing was due";

  Timetable due({50});  // joins with an event at the present
  simulation.Add(&due);
  simulation.AdvanceTo(50);
  EXPECT_EQ(due.fired, (std::vector<SimTime>{50}));
  const int afterDue = a.runs;
  simulation.AdvanceTo(50);
  EXPECT_EQ(a.runs, afterDue);

  simulation.AdvanceTo(150);
  EXPECT_EQ(a.fired, (std::vector<SimTime>{100}));
  EXPECT_EQ(simulation.Now(), 150U);
}

}  // namespace
}  // namespace vantor::sim
