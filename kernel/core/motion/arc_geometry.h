// Angles of arcs: the angle of a point about a centre, the sweep between
// two angles and the advance of an angle along an arc.
#pragma once

namespace vantor::motion {

// Angle in [0, 2 pi) of the point (dx, dy) relative to the centre of a
// circle of radius r. Points on or beyond an axis direction (|dy| >= r, or
// the other component negligible) snap to that axis exactly.
double PointAngle(double r, double dx, double dy) noexcept;

// Sweep from start angle phi0 to end angle phi1 in the direction of travel,
// in (0, 2 pi]; ends within `tolerance` of each other (or of a whole turn)
// make a full circle.
double ArcSweep(bool decreasing, double tolerance, double phi0, double phi1) noexcept;

// The angle reached along an arc from angle b after turning by a: b - a
// when the angle decreases, else a + b.
double AdvanceAngle(bool decreasing, double a, double b) noexcept;

}  // namespace vantor::motion
