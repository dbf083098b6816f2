// Stand-in: the face is drawn on every tick.
#include "app/redraw_standin.h"

bool frameChanged() { return true; }

void invalidateFrame() {}
