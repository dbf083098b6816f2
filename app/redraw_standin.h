// Whether the window needs drawing: a stand-in that draws every tick, kept
// apart so the face's own answer (from its cached layers) can replace it.
#pragma once

// True when the composed window would differ from what was last drawn.
bool frameChanged();
// Marks the window for a full redraw (its content was lost or is stale).
void invalidateFrame();
