// Screen geometry of the face for end-to-end tests and benchmarks.
#include "tools/harness/face.h"
#include "raymath.h"

namespace face {


Camera3D camera()
{
    Camera3D c{};
    c.position = Vector3{0, 22, 14.4f};
    c.target = Vector3{0, 0, 0};
    c.up = Vector3{0, 1, 0};
    c.fovy = 45;
    c.projection = CAMERA_PERSPECTIVE;
    return c;
}

Vector3 worldPos(int id)
{
    // The tables as stored: end-to-end tests never lay the scene out in their own process.
    const Control &c = controlTable()[id];
    const Panel &panel = panelTable[c.panel];
    return Vector3{c.position.x + panel.position.x, c.position.y, c.position.z + panel.position.z};
}

Vector2 toScreen(Vector3 world, int side) { return GetWorldToScreenEx(world, camera(), side, side); }

Vector2 controlScreen(int id, int side) { return toScreen(worldPos(id), side); }

Vector3 tablePoint(Vector2 screen, int side)
{
    Ray ray = GetScreenToWorldRayEx(screen, camera(), side, side);
    if (ray.direction.y >= 0) return Vector3{0, 0, 0};
    float t = -ray.position.y / ray.direction.y;
    return Vector3Add(ray.position, Vector3Scale(ray.direction, t));
}

void cableSpline(Vector3 from, Vector3 to, int side, Vector2 out[4])
{
    Vector2 centre = {side / 2.0f, side / 2.0f};
    Vector2 p1 = toScreen(Vector3Add(from, Vector3{0, 1.45f, 0}), side);
    Vector2 p2 = toScreen(Vector3Add(to, Vector3{0, 1.45f, 0}), side);
    Vector2 p0 = Vector2Add(p1, Vector2Scale(Vector2Subtract(centre, p1), 8));
    Vector2 p3 = Vector2Add(p2, Vector2Scale(Vector2Subtract(centre, p2), 8));
    p0.y *= 1.4f;
    p3.y *= 1.4f;
    out[0] = p0;
    out[1] = p1;
    out[2] = p2;
    out[3] = p3;
}

Vector2 catmullRom(const Vector2 p[4], float t)
{
    float t2 = t * t, t3 = t2 * t;
    auto f = [&](float a, float b, float c, float d) {
        return 0.5f * ((2 * b) + (-a + c) * t + (2 * a - 5 * b + 4 * c - d) * t2 + (-a + 3 * b - 3 * c + d) * t3);
    };
    return Vector2{f(p[0].x, p[1].x, p[2].x, p[3].x), f(p[0].y, p[1].y, p[2].y, p[3].y)};
}

}  // namespace face
