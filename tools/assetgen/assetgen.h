// The artwork generator: every picture, model and font of the face, made
// from code so a change of look is a change of a number here.
#pragma once
#include <string>

// Paints the eight PNG images of the face and the desktop icon into dir.
bool writeImages(const std::string &dir, const std::string &fontDir);
// Builds the twelve .glb models into dir.
bool writeModels(const std::string &dir);
// Rasterises the two pixel fonts and writes the C++ data file at path.
bool writeFontData(const std::string &path, const std::string &fontDir);
// Writes the edge-outline fragment shader into dir.
bool writeShader(const std::string &dir);
