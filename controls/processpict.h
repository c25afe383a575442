// The geometry of the process-plant pictures: hoppers, the open tank,
// pipes, elbows, tees, motors, pumps and valves in any destination
// rectangle.  Each routine works on the rectangle with its bottom and right
// edges moved in by a pixel, so that outlines lie on its pixels; w and h
// are its width and height so shrunk.  Points are (v, h); rectangles are
// right and bottom exclusive.  An empty rectangle (or one a pixel thin)
// writes the shape's text on the debug output and gives false.
#pragma once
#include "controls/picc.h"

// The hoppers: six points, the last repeated.  Form B goes straight down
// to mid-height, then slopes in to a bottom edge from left + w/4 to
// right - w/4; form A goes straight down to bottom - h/4 (the knee).
struct HopperGeom {
  Point outline[7];
  int32 knee;  // where the slopes start
  int32 w;
};
Bool32 MakeHopperB(const Rect* r, HopperGeom* g);
Bool32 MakeHopperA(const Rect* r, HopperGeom* g);

// The open tank: a U with walls two pixels thick, eight points and the
// first repeated.
struct TankGeom {
  Point outline[9];
};
Bool32 MakeOpenTank(const Rect* r, TankGeom* g);

// A pipe along the direction's axis (vertical for 0xC0000): the body inset
// by e from its long sides and f from its ends, a flange f thick across the
// whole pipe at each end; e from the cross size, f from the length
// (min(e / 2, 20)).
struct PipeGeom {
  Rect body, flange1, flange2;
  int32 e, f;
  Bool32 vertical;
};
Bool32 MakePipe(const Rect* r, int32 direction, PipeGeom* g);

// An elbow: two legs meeting in a bend, the bend's outer corner rounded by
// a quarter circle about the inner corner.  Its legs leave the rectangle
// at its left and top edges (direction left), right and top (right), left
// and bottom (up) or right and bottom (down).  t is the flanges'
// thickness, d the pipe's.
struct ElbowGeom {
  Point outline[8];  // 7 points and the first repeated; the bend replaces edge 2-3
  Rect bend;         // the oval whose quarter from arcStart rounds the corner
  int32 arcStart;
  Rect standingLeg, lyingLeg;            // the pipe bodies up to the inner corner
  Rect standingFlange, lyingFlange;
  Rect corner;                           // the square where the legs meet
  int32 splitFlags;                      // how the corner's split bands run
  Point hatch[6][2];                     // grey lines inside the shaded edges (one-bit ports)
  int32 hatchCount;
  int32 t, d;
};
Bool32 MakeElbow(const Rect* r, int32 direction, ElbowGeom* g);

// A tee: a through pipe with a flange at each end and a branch from its
// middle toward the direction, with its own flange.
struct TeeGeom {
  Point outline[9];  // 8 points and the first repeated
  Rect through, branch;
  Rect flanges[3];   // the through pipe's two, then the branch's
  Bool32 throughVertical;
  Point hatch[4][2];  // grey lines inside the shaded edges (one-bit ports)
  int32 hatchCount;
  int32 t, d;
};
Bool32 MakeTee(const Rect* r, int32 direction, TeeGeom* g);

// A motor lying along its rectangle: the body, end caps 4m wide drawn as
// half ovals, and a trapezoid base under it.
struct MotorGeom {
  Rect body, leftCap, rightCap;
  Point base[5];  // 4 points and the first repeated
  int32 n, m;
};
Bool32 MakeMotor(const Rect* r, MotorGeom* g);

// A pump: a round body k wide at the edge away from the direction (right
// for 0x10000, left for 0x20000), an outlet from its centre to the edge the
// direction names, and a triangle stand under the body.
struct PumpGeom {
  Rect body, outlet;
  Point stand[4];  // 3 points and room to close
  int32 k;
};
Bool32 MakePump(const Rect* r, int32 direction, PumpGeom* g);

// A valve: a bow-tie of two triangles meeting at the centre, a stem of
// half-width q from the centre toward the direction, and the actuator at
// its end: a block against the edge, or (roundActuator) a half oval a
// quarter of the half-height further in whose flat side is the segment
// diameter[0]-diameter[1].
struct ValveGeom {
  Point bowTie[7];
  Point leftTri[4], rightTri[4];  // the bow-tie's two triangles
  Rect stem, actuator;
  Rect actuatorOval;              // the whole oval whose half is the round actuator
  Point diameter[2];
  int32 q, facing;
  Bool32 roundActuator;
};
Bool32 MakeValve(const Rect* r, int32 direction, Bool32 roundActuator, ValveGeom* g);
