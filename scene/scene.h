// scene: the graphics assets, the one-time layout of the face, and every
// drawing pass of a frame.
#pragma once
#include "raylib.h"

// Prints every asset file that is missing or unreadable; returns how many there are.
int reportMissingSceneFiles();
// Loads textures, models, fonts, render targets and the outline shader (needs the window).
void loadSceneAssets();
// Releases everything loadSceneAssets made.
void unloadSceneAssets();
// Places every control, label, panel heading and icon; runs once after loadSceneAssets.
void layoutScene();
// Draws one whole frame to the window.
void drawFrame();
