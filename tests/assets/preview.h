// Pictures of the artwork for a person to look at (tests/assets).
#pragma once
#include <string>

// Writes one PNG per model on the faceplate colour and one of the whole face.
bool writePreviewShots(const std::string &dir);
