// Picking: from the mouse into the scene (which control, which table point)
// and from the scene back to the screen (the curve points of a cable).
#include "ui/ui.h"
#include "raymath.h"

// The table top: a thin slab whose upper face is level with the panels.
static const BoundingBox TABLE_SLAB = {{-100.0f, -1.0f, -100.0f}, {100.0f, 0.0f, 100.0f}};
static const float NO_HIT_DISTANCE = 10000.0f;
static const float CABLE_END_LIFT = 1.45f;
static const float GUIDE_STRETCH = 8.0f;
static const float GUIDE_VERTICAL = 1.4f;

int pickControlAt(Vector2 screen)
{
    Ray ray = GetMouseRay(screen, sceneCamera);
    const Control *controls = controlTable();
    float best = NO_HIT_DISTANCE;
    int result = -1;
    for (int id = CONTROL_FIRST; id < CONTROL_COUNT; id++) {
        RayCollision hit = GetRayCollisionBox(ray, controls[id].bounds);
        // Strictly nearer: on a tie the lower id keeps the pick.
        if (hit.hit && hit.distance < best) {
            best = hit.distance;
            result = id;
        }
    }
    return result;
}

int pickControl() { return pickControlAt(GetMousePosition()); }

Vector3 pickTablePoint(Vector2 screen)
{
    Ray ray = GetMouseRay(screen, sceneCamera);
    RayCollision hit = GetRayCollisionBox(ray, TABLE_SLAB);
    if (hit.hit) return hit.point;
    return Vector3{0.0f, 0.0f, 0.0f};
}

// A guide point far out beyond the window centre from an end, so the curve
// leaves that end bowing away from the middle; y is then stretched as a whole.
static Vector2 guidePoint(Vector2 end, Vector2 centre)
{
    Vector2 g = Vector2Add(end, Vector2Scale(Vector2Subtract(centre, end), GUIDE_STRETCH));
    g.y *= GUIDE_VERTICAL;
    return g;
}

void updateCableSpline(Cable &cable)
{
    Vector3 lift = {0.0f, CABLE_END_LIFT, 0.0f};
    Vector3 a = Vector3Add(cable.fromPos, lift);
    Vector3 b = Vector3Add(cable.toPos, lift);
    Vector2 centre = {(float)GetScreenWidth() / 2.0f, (float)GetScreenHeight() / 2.0f};
    Vector2 p1 = GetWorldToScreen(a, sceneCamera);
    Vector2 p2 = GetWorldToScreen(b, sceneCamera);
    cable.spline[0] = guidePoint(p1, centre);
    cable.spline[1] = p1;
    cable.spline[2] = p2;
    cable.spline[3] = guidePoint(p2, centre);
}
