// Picking: placeholder until the mouse meets the scene.
#include "ui/ui.h"

int pickControl() { return -1; }
Vector3 pickTablePoint(Vector2) { return Vector3{0, 0, 0}; }
void updateCableSpline(Cable &) {}
