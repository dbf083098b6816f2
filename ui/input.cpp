// Mouse input: placeholder until picking and the input state machine land.
#include "ui/ui.h"

static InputState state = {-1, -1, -1, false, {0, 0}, {}};

InputState *inputState() { return &state; }
int pickControl() { return -1; }
void handleInput() {}
