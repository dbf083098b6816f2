// The one-time layout of the face, checked without a window: stand-in models
// with boxes off their origin, so scaling about the origin shows. (Labels
// measured with the real font are checked in the windowed ui test.)
#include <gtest/gtest.h>
#include <cstring>
#include "scene/scene.h"
#include "raymath.h"

namespace {

// Model i spans a box that is not centred on its origin and differs per model.
float vertexData[MODEL_COUNT][6];
Mesh meshes[MODEL_COUNT];

BoundingBox standInBox(int i)
{
    return BoundingBox{{-0.4f + 0.01f * (float)i, -0.2f, -0.5f + 0.02f * (float)i},
                       {0.6f, 0.7f + 0.01f * (float)i, 0.3f + 0.03f * (float)i}};
}

void installStandIns()
{
    for (int i = 0; i < MODEL_COUNT; i++) {
        BoundingBox b = standInBox(i);
        float v[6] = {b.min.x, b.min.y, b.min.z, b.max.x, b.max.y, b.max.z};
        std::memcpy(vertexData[i], v, sizeof v);
        meshes[i] = Mesh{};
        meshes[i].vertexCount = 2;
        meshes[i].vertices = vertexData[i];
        sceneModels[i] = Model{};
        sceneModels[i].transform = MatrixIdentity();
        sceneModels[i].meshCount = 1;
        sceneModels[i].meshes = &meshes[i];
    }
}

struct Layout : ::testing::Test {
    void SetUp() override
    {
        resetPanel();
        installStandIns();
    }
    void TearDown() override
    {
        resetPanel();
        for (Model &m : sceneModels) m = Model{};
    }
};

void expectVec(Vector3 got, Vector3 want, const std::string &what)
{
    EXPECT_FLOAT_EQ(got.x, want.x) << what;
    EXPECT_FLOAT_EQ(got.y, want.y) << what;
    EXPECT_FLOAT_EQ(got.z, want.z) << what;
}

TEST_F(Layout, PositionsValuesAndFaceplate)
{
    Control stored[CONTROL_COUNT];
    std::memcpy(stored, controlTable(), sizeof stored);
    layoutSceneSized(800, 800);
    const Control *t = controlTable();
    expectVec(t[1].position, {-4.5f, 0, -6}, "Tune knob");
    expectVec(t[20].position, {7, 0, 1}, "Gain knob");
    expectVec(t[15].position, {-3, 0, -5.5f}, "Shape input");
    for (int id = 21; id <= 45; id++) {
        EXPECT_FLOAT_EQ(t[id].position.z, 2.75f) << id;
        EXPECT_FLOAT_EQ(t[id].position.y, 1.0f) << id;
        EXPECT_FLOAT_EQ(t[id].position.x, stored[id].position.x) << "the keyboard panel sits at x 0";
    }
    for (int id = 1; id < CONTROL_COUNT; id++) EXPECT_EQ(t[id].value, t[id].defaultValue) << id;
    EXPECT_EQ(t[0].value, stored[0].value) << "the placeholder row is left alone";
    EXPECT_EQ(t[30].value, 69.0f) << "the A above middle C";

    expectVec(faceplateCenter, {0, -0.5f, -0.875f}, "faceplate centre");
    expectVec(faceplateSize, {16.5f, 1, 14.75f}, "faceplate size");

    EXPECT_FLOAT_EQ(sceneCamera.position.y, 22.0f);
    EXPECT_FLOAT_EQ(sceneCamera.position.z, 14.4f);
    EXPECT_FLOAT_EQ(sceneCamera.fovy, 45.0f);
    EXPECT_EQ(sceneCamera.projection, CAMERA_PERSPECTIVE);
    expectVec(sceneCamera.target, {0, 0, 0}, "camera target");
    expectVec(sceneCamera.up, {0, 1, 0}, "camera up");
}

TEST_F(Layout, HitBoxesByKind)
{
    layoutSceneSized(800, 800);
    const Control *t = controlTable();
    for (int id = 1; id < CONTROL_COUNT; id++) {
        const Control &c = t[id];
        BoundingBox b;
        if (c.kind == ControlKind::Knob) {
            b = standInBox(c.variant);
        } else if (c.kind == ControlKind::Key) {
            b = standInBox(c.variant);
            b = {Vector3Scale(b.min, 0.5f), Vector3Scale(b.max, 0.5f)};
        } else {
            // Every jack, input or output, uses the jack model's box grown about its origin.
            b = standInBox(MODEL_JACK);
            b = {Vector3Scale(b.min, 1.6f), Vector3Scale(b.max, 1.6f)};
        }
        expectVec(c.bounds.min, Vector3Add(c.position, b.min), "min of " + std::to_string(id));
        expectVec(c.bounds.max, Vector3Add(c.position, b.max), "max of " + std::to_string(id));
    }
    // Scaling about the origin, not the centre: the jack model spans z -0.44 to
    // 0.39, so its hit box spans 1.6 times each (about its centre it would
    // reach 0.639 in front).
    const Control &lfoOut = t[13];
    EXPECT_NEAR(lfoOut.bounds.max.z - lfoOut.position.z, 1.6f * 0.39f, 1e-6f);
    EXPECT_NEAR(lfoOut.bounds.min.z - lfoOut.position.z, 1.6f * -0.44f, 1e-6f);
}

TEST_F(Layout, LabelAnchorsAndPanelHeadings)
{
    layoutSceneSized(800, 800);
    const Control *t = controlTable();
    for (int id = 1; id < CONTROL_COUNT; id++) {
        const Control &c = t[id];
        Vector3 frontMiddle = {(c.bounds.min.x + c.bounds.max.x) / 2, c.bounds.min.y, c.bounds.max.z};
        Vector2 p = GetWorldToScreenEx(frontMiddle, sceneCamera, 800, 800);
        EXPECT_NEAR(c.labelPos.x, p.x, 1e-3f) << id << " " << c.name;
        EXPECT_NEAR(c.labelPos.y, p.y + 4, 1e-3f) << id;
    }
    // The Tune label is left of the Cutoff label and both are in the upper half.
    EXPECT_LT(t[1].labelPos.x, t[4].labelPos.x);
    EXPECT_LT(t[1].labelPos.y, 400);
    // Panel headings sit 6 pixels right of and 14 pixels above the panel's front-left corner.
    Vector2 corner = GetWorldToScreenEx({-5 - 3 + 0.1f, 0, -6 + 2 - 0.1f}, sceneCamera, 800, 800);
    EXPECT_NEAR(panelTable[0].labelPos.x, corner.x + 6, 1e-3f);
    EXPECT_NEAR(panelTable[0].labelPos.y, corner.y - 14, 1e-3f);
}

TEST_F(Layout, WindowAnchorsFor600And800)
{
    layoutSceneSized(600, 600);
    EXPECT_TRUE(smallLayout);
    EXPECT_EQ(helpIconPos.x, 8);
    EXPECT_EQ(helpIconPos.y, 562);
    EXPECT_EQ(midiIconPos.x, 48);
    EXPECT_EQ(midiIconPos.y, 562);
    EXPECT_EQ(logoPos.x, 82);
    EXPECT_EQ(logoPos.y, 302);
    Vector2 smallTune = controlTable()[1].labelPos;

    resetPanel();
    layoutSceneSized(800, 800);
    EXPECT_FALSE(smallLayout);
    EXPECT_EQ(helpIconPos.y, 762);
    EXPECT_EQ(midiIconPos.x, 48);
    EXPECT_EQ(midiIconPos.y, 762);
    EXPECT_EQ(logoPos.x, 112);
    EXPECT_EQ(logoPos.y, 410);
    // Labels are placed for the window they are drawn in.
    EXPECT_GT(controlTable()[1].labelPos.y, smallTune.y);

    resetPanel();
    layoutSceneSized(601, 601);
    EXPECT_FALSE(smallLayout) << "only 600 and below is small";
    EXPECT_EQ(logoPos.x, 112);
}

}  // namespace
