// Keys held on the computer keyboard, pressed for real through XTEST, dip on
// the face as the mouse's key does, and the face returns to rest on release.
#include <gtest/gtest.h>
#include "tests/face/driver.h"

namespace {

TEST(FaceDrawing, AChordHeldOnTheKeyboardDipsItsKeysAlongsideTheMouseKey)
{
    Face f;
    ASSERT_TRUE(f.mirl.ok);
    desk::setKeyboardFocus(f.display, f.mirl.window.id);
    f.move({f.side - 60.0f, f.side - 150.0f});
    Shot rest = f.shot();
    // Pixels that changed round a key's front.
    auto moved = [&](const Shot &s, int id) {
        Vector2 p = f.at(id);
        return s.count((int)p.x - 6, (int)p.y - 8, (int)p.x + 6, (int)p.y + 8, differ, &rest);
    };
    const int C = KEY_FIRST, E = KEY_FIRST + 4, G = KEY_FIRST + 7, A = KEY_FIRST + 9;
    desk::keyDown(f.display, {"z", "c", "b"});
    Shot chord = f.shot();
    for (int id : {C, E, G}) EXPECT_GT(moved(chord, id), 10) << id;
    for (int id = KEY_FIRST + 12; id <= KEY_LAST; id++) EXPECT_EQ(moved(chord, id), 0) << id;
    f.move(f.at(A)), f.button(1, true);
    Shot withMouse = f.shot();
    for (int id : {C, E, G, A}) EXPECT_GT(moved(withMouse, id), 10) << id;
    f.button(1, false), desk::keyUp(f.display, {"z", "c", "b"}), f.move({f.side - 60.0f, f.side - 150.0f});
    EXPECT_EQ(f.shot().count(0, 130, f.side, f.side, differ, &rest), 0) << "every key back at rest";
}

}  // namespace
