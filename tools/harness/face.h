// Where things land on screen, computed independently of the program from the
// stored face tables and the fixed camera, so end-to-end tests and benchmarks
// know where to click and which pixels to read.
#pragma once
#include "panel/panel.h"

namespace face {

// The fixed camera looking down on the face.
Camera3D camera();
// A control's world position as the layout makes it, from the stored tables.
Vector3 worldPos(int id);
// A world point on a square window of the given side.
Vector2 toScreen(Vector3 world, int side);
// The screen position of a control's origin on a window of the given side.
Vector2 controlScreen(int id, int side);
// The point where the ray through a screen point meets the table top (y = 0).
Vector3 tablePoint(Vector2 screen, int side);
// The four curve points of a cable between two world points, as the program makes them.
void cableSpline(Vector3 from, Vector3 to, int side, Vector2 out[4]);
// A point on the Catmull-Rom segment from p[1] to p[2] at t in [0, 1].
Vector2 catmullRom(const Vector2 p[4], float t);

}  // namespace face
