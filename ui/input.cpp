// Mouse input: placeholder until the input state machine lands.
#include "ui/ui.h"

static InputState state = {-1, -1, -1, false, {0, 0}, {}};

InputState *inputState() { return &state; }
void handleInput() {}
void connectJacks(int, int) {}
void disconnectJack(int) {}
