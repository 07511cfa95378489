// The part program of path_run over the whole chain: the program homes the
// axes of machine.ini on a machine whose drives stand near their switches,
// runs its path through the library's path buffer and logs the commanded
// and actual positions; the test checks the log against the programmed
// geometry, the plot file, and, from the driver host's frame log, every
// set-point the drives received against the limits the drives reported.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <numbers>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "examples/tests/chain_processes.h"

namespace vantor::examples_test {
namespace {

namespace fs = std::filesystem;

const std::string kPathRun = VANTOR_PATH_RUN;
const std::string kGnuplot = VANTOR_GNUPLOT;
const std::string kPlotScript = VANTOR_PROGRAM_FOLDER "/path_run.gp";
const std::string kSampleIni = VANTOR_EXAMPLES_FOLDER "/machine.ini";
const std::string kHomingMachine = VANTOR_EXAMPLES_FOLDER "/tests/data/homing_machine.json";

// Homing, the path and the start of the programs take seconds; a hang fails.
constexpr std::uint32_t kRunDeadlineMs = 240000;
constexpr double kCycleSeconds = 0.003;   // InterruptCycle of machine.ini
constexpr double kCarryAxisVelFac = 1.0;  // of machine.ini
// Commanded positions are whole units of a path computed in doubles.
constexpr double kOnPathTolerance = 2.0;
// The drives end where they were told to, up to their own rounding.
constexpr double kEndTolerance = 3.0;

struct Point {
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
};

// One row of the position log.
struct Sample {
  double seconds = 0.0;
  Point commanded;
  Point actual;
};

std::vector<Sample> ReadPositionLog(const fs::path& path) {
  std::vector<Sample> samples;
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);  // the header
  while (std::getline(in, line)) {
    Sample s;
    if (std::sscanf(line.c_str(), "%lf,%lf,%lf,%lf,%lf,%lf,%lf", &s.seconds, &s.commanded.x,
                    &s.commanded.y, &s.commanded.z, &s.actual.x, &s.actual.y, &s.actual.z) != 7) {
      ADD_FAILURE() << "bad row: " << line;
      return samples;
    }
    samples.push_back(s);
  }
  return samples;
}

// The distance of `p` from the pieces of the program that starts at `s`:
// a line to (2, 0, 0), a full circle in XY about (2, 1, 0), a line to
// (2, 0, 1), a quarter arc in XZ about (3, 0, 1) to (3, 0, 2), one turn
// about (3, 1) going down to z = 1, a line back to the start; in units of
// 10000 about the start.
double DistanceToLine(const Point& p, const Point& a, const Point& b) {
  const double dx = b.x - a.x, dy = b.y - a.y, dz = b.z - a.z;
  const double length2 = dx * dx + dy * dy + dz * dz;
  double t =
      length2 == 0.0 ? 0.0 : ((p.x - a.x) * dx + (p.y - a.y) * dy + (p.z - a.z) * dz) / length2;
  t = std::clamp(t, 0.0, 1.0);
  return std::hypot(p.x - (a.x + t * dx), p.y - (a.y + t * dy), p.z - (a.z + t * dz));
}

double DistanceToProgram(const Point& p, const Point& s) {
  constexpr double k = 10000.0;
  const auto at = [&](double x, double y, double z) {
    return Point{s.x + x * k, s.y + y * k, s.z + z * k};
  };
  double best = DistanceToLine(p, at(0, 0, 0), at(2, 0, 0));
  best = std::min(best, DistanceToLine(p, at(2, 0, 0), at(2, 0, 1)));
  best = std::min(best, DistanceToLine(p, at(3, 0, 1), at(0, 0, 0)));
  // The full circle: radius k about (2, 1) in the plane z = 0.
  const Point c = at(2, 1, 0);
  best = std::min(best, std::hypot(std::hypot(p.x - c.x, p.y - c.y) - k, p.z - c.z));
  // The quarter arc about (3, 0, 1) in XZ, from its -X side to its +Z side.
  const Point a = at(3, 0, 1);
  if (p.x <= a.x + kOnPathTolerance && p.z >= a.z - kOnPathTolerance) {
    best = std::min(best, std::hypot(std::hypot(p.x - a.x, p.z - a.z) - k, p.y - a.y));
  }
  // The helix about (3, 1): from angle -pi/2 once round, z from 2 down to 1.
  const Point h = at(3, 1, 2);
  const double turned =
      std::fmod(std::atan2(p.y - h.y, p.x - h.x) + std::numbers::pi / 2 + 2 * std::numbers::pi,
                2 * std::numbers::pi);
  for (const double angle : {turned, turned + 2 * std::numbers::pi}) {
    if (angle > 2 * std::numbers::pi + 1e-9) continue;
    const double z = h.z - k * angle / (2 * std::numbers::pi);
    best = std::min(best, std::hypot(std::hypot(p.x - h.x, p.y - h.y) - k, p.z - z));
  }
  return best;
}

// "path of 6 moves from (x, y, z)"
std::optional<Point> StartPoint(const std::vector<std::string>& out) {
  for (const std::string& line : out) {
    Point s;
    if (std::sscanf(line.c_str(), "path of %*d moves from (%lf, %lf, %lf)", &s.x, &s.y, &s.z) ==
        3) {
      return s;
    }
  }
  return std::nullopt;
}

// ---- the frame log ------------------------------------------------------------

std::vector<std::uint8_t> Bytes(const LoggedFrame& frame) {
  std::vector<std::uint8_t> bytes;
  const std::size_t hash = frame.text.find('#');
  if (hash == std::string::npos || frame.text[hash + 1] == 'R') return bytes;
  for (std::size_t i = hash + 1; i + 1 < frame.text.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(frame.text.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

std::int64_t Little(const std::vector<std::uint8_t>& bytes, std::size_t at, std::size_t size,
                    bool isSigned) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < size; ++i) value |= std::uint64_t{bytes[at + i]} << (8 * i);
  if (isSigned && size < 8 && (value >> (8 * size - 1)) != 0)
    value |= ~std::uint64_t{0} << (8 * size);
  return static_cast<std::int64_t>(value);
}

// What a drive's SDO traffic says: the values the kernel read from it and
// wrote to it (expedited transfers), and where its last write of the mode
// of operation stands in the log.
struct DriveDictionary {
  std::map<std::uint32_t, std::int64_t> read;     // index << 8 | subindex
  std::map<std::uint32_t, std::int64_t> written;  // index << 8 | subindex
  std::size_t lastModeWrite = 0;
};

DriveDictionary DictionaryOf(const std::vector<LoggedFrame>& frames, std::uint32_t node) {
  DriveDictionary d;
  std::vector<std::uint8_t> request;  // the kernel sends only the bytes in use
  std::size_t requestAt = 0;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const LoggedFrame& f = frames[i];
    if (f.id == 0x600 + node) {
      request = Bytes(f);
      requestAt = i;
      continue;
    }
    if (f.id != 0x580 + node || request.size() < 4) continue;
    const std::vector<std::uint8_t> answer = Bytes(f);
    if (answer.size() != 8) continue;
    const std::uint32_t key =
        static_cast<std::uint32_t>(Little(answer, 1, 2, false)) << 8 | answer[3];
    const std::uint8_t command = request[0];
    if ((command & 0xE0) == 0x40 && (answer[0] & 0xE3) == 0x43) {
      d.read[key] = Little(answer, 4, 4 - ((answer[0] >> 2) & 3), false);
    } else if ((command & 0xE0) == 0x20 && answer[0] == 0x60) {
      d.written[key] = Little(request, 4, request.size() - 4, false);
      if (key == (0x6060u << 8)) d.lastModeWrite = requestAt;
    }
    request.clear();
  }
  return d;
}

// The set-points of a receive PDO after frame `from`: each frame carries a
// position and two differences (three set-points); a header record
// (0x3FFFFFFF) carries none.
std::vector<std::int64_t> SetPoints(const std::vector<LoggedFrame>& frames, std::uint32_t cobId,
                                    std::size_t from) {
  std::vector<std::int64_t> points;
  for (std::size_t i = from; i < frames.size(); ++i) {
    if (frames[i].id != cobId) continue;
    const std::vector<std::uint8_t> bytes = Bytes(frames[i]);
    if (bytes.size() < 4) continue;
    const std::int64_t first = Little(bytes, 0, 4, true);
    if (first == 0x3FFFFFFF) continue;
    points.push_back(first);
    if (bytes.size() < 8) continue;
    const std::int64_t second = first + Little(bytes, 4, 2, true);
    points.push_back(second);
    points.push_back(second + Little(bytes, 6, 2, true));
  }
  return points;
}

class PathRunTest : public ChainTest {
 protected:
  PathRunTest() : ChainTest("path-run") {}
};

TEST_F(PathRunTest, ThePartProgramRunsAlongItsPathWithinTheDrivesLimits) {
  const fs::path frames = folder_ / "frames.log";
  const fs::path output = folder_ / "output";
  fs::create_directories(output);
  StartDevhost(kHomingMachine, frames.string());
  ASSERT_FALSE(HasFatalFailure());

  const ProgramRun run =
      RunProgram(kPathRun, {output.string(), kSampleIni}, folder_, kRunDeadlineMs);
  ASSERT_EQ(run.exitCode, 0u) << run.err;
  const std::optional<Point> start = StartPoint(run.out);
  ASSERT_TRUE(start.has_value()) << run.err;
  EXPECT_NE(
      std::find(run.out.begin(), run.out.end(), "positions: " + (output / "path_run.csv").string()),
      run.out.end());

  // The position log: rising time, at most about one row per cycle period
  // (each row costs two requests, so a slow machine writes fewer), every
  // commanded position on the program, the drives at its end.
  const std::vector<Sample> samples = ReadPositionLog(output / "path_run.csv");
  ASSERT_GT(samples.size(), 100u);
  for (std::size_t i = 1; i < samples.size(); ++i) {
    ASSERT_GT(samples[i].seconds, samples[i - 1].seconds) << "row " << i + 2;
  }
  const double span = samples.back().seconds - samples.front().seconds;
  const double rows = static_cast<double>(samples.size() - 1);
  EXPECT_LE(rows, span / kCycleSeconds * 1.05 + 2)
      << "rows faster than the cycle over " << span << " s";
  std::size_t offPath = 0;
  for (const Sample& s : samples) {
    const double distance = DistanceToProgram(s.commanded, *start);
    if (distance > kOnPathTolerance && offPath++ < 5) {
      ADD_FAILURE() << "commanded (" << s.commanded.x << ", " << s.commanded.y << ", "
                    << s.commanded.z << ") at " << s.seconds << " s lies " << distance
                    << " off the program";
    }
  }
  EXPECT_EQ(offPath, 0u);
  const Point& reached = samples.back().actual;
  EXPECT_NEAR(reached.x, start->x, kEndTolerance);
  EXPECT_NEAR(reached.y, start->y, kEndTolerance);
  EXPECT_NEAR(reached.z, start->z, kEndTolerance);

  // The plot of the log.
  const fs::path png = output / "path_run.png";
  const ProgramRun plot = RunProgram(
      kGnuplot,
      {"-e", "csv='" + (output / "path_run.csv").string() + "'; png='" + png.string() + "'",
       kPlotScript},
      folder_, 60000);
  EXPECT_EQ(plot.exitCode, 0u) << plot.err;
  const std::string image = ReadText(png);
  EXPECT_EQ(image.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));

  // Every set-point each drive received after its homing, per
  // interpolation period, within the velocity and acceleration it
  // reported; the last one at the start point again (one increment per
  // unit on this machine).
  const std::vector<LoggedFrame> log = ReadFrameLog(frames);
  struct Axis {
    const char* name;
    std::uint32_t node;
    std::uint32_t setPointCobId;
    double start;
  };
  const Axis axes[] = {
      {"X", 1, 0x301, start->x}, {"Y", 2, 0x302, start->y}, {"Z", 4, 0x304, start->z}};
  for (const Axis& axis : axes) {
    SCOPED_TRACE(axis.name);
    const DriveDictionary d = DictionaryOf(log, axis.node);
    ASSERT_TRUE(d.read.contains(0x607F00) && d.read.contains(0x60C500))
        << "the kernel did not read the drive's limits";
    ASSERT_TRUE(d.written.contains(0x60C201) && d.written.contains(0x60C202))
        << "the reset did not write the interpolation period";
    const double period =
        static_cast<double>(d.written.at(0x60C201)) *
        std::pow(10.0, static_cast<double>(static_cast<std::int8_t>(d.written.at(0x60C202))));
    ASSERT_GT(period, 0.0);
    const double maxVelocity = static_cast<double>(d.read.at(0x607F00));
    const double maxAcceleration = static_cast<double>(d.read.at(0x60C500));
    const double step = maxVelocity * period + 1.0;
    const double change = maxAcceleration * period * period * (1.0 + kCarryAxisVelFac) + 2.0;

    const std::vector<std::int64_t> points = SetPoints(log, axis.setPointCobId, d.lastModeWrite);
    ASSERT_GT(points.size(), 100u);
    std::size_t faults = 0;
    for (std::size_t k = 1; k < points.size(); ++k) {
      const double v = static_cast<double>(points[k] - points[k - 1]);
      const double before = k > 1 ? static_cast<double>(points[k - 1] - points[k - 2]) : v;
      if ((std::fabs(v) > step || std::fabs(v - before) > change) && faults++ < 5) {
        ADD_FAILURE() << "set-point " << k << ": " << points[k] << " after " << points[k - 1]
                      << " (at most " << step << " per period, a change of " << change << ")";
      }
    }
    EXPECT_EQ(faults, 0u);
    EXPECT_EQ(static_cast<double>(points.back()), axis.start);
  }

  ExpectNothingLeft();
}

}  // namespace
}  // namespace vantor::examples_test
