// Scene layout: placeholder until the face layout lands.
#include "scene/scene.h"

void layoutScene() {}
