// scene: the graphics assets, the one-time layout of the face, and every
// drawing pass of a frame.
#pragma once
#include "raylib.h"
#include "panel/constants.h"
#include "panel/panel.h"

enum TextureId {
    TEX_KNOB, TEX_KNOB_ALT, TEX_JACK, TEX_PLUG, TEX_BACKGROUND, TEX_HELP, TEX_MIDI, TEX_LOGO, TEXTURE_COUNT
};

enum ModelId {
    MODEL_KNOB, MODEL_KNOB_ALT, MODEL_ATTENUATOR, MODEL_JACK, MODEL_PLUG, MODEL_PLUG_INSERTED,
    MODEL_KEY_BLACK, MODEL_KEY_C, MODEL_KEY_D, MODEL_KEY_E, MODEL_KEY_G, MODEL_KEY_A, MODEL_KEY_END, MODEL_COUNT
};

extern Texture2D sceneTextures[TEXTURE_COUNT];
extern Model sceneModels[MODEL_COUNT];
extern BoundingBox sceneModelBounds[MODEL_COUNT];  // each model's box, measured once at load
extern Font labelFont, titleFont;
extern RenderTexture2D sceneTarget, plugTarget, baseTarget, faceTarget, hoverTarget, helpTarget;  // the cached layers (draw.cpp)
extern Shader outlineShader;

// ---- assets ----
// Picks the artwork folder (graphics/ here, else the installed one beside the program);
// when neither has every file, prints each one lacking and returns how many.
int reportMissingSceneFiles();
// Loads textures, models, fonts, render targets and the outline shader (needs the window).
void loadSceneAssets();
// Releases everything loadSceneAssets made.
void unloadSceneAssets();
// Keeps every library the window brought in (the GL driver above all) loaded until exit.
void keepGraphicsDriverLoaded();
// Loads a model and puts a scene texture on one of its material slots as the albedo map.
Model loadModelTextured(const char *path, int materialSlot, int textureId);
// Builds the label font (LABEL_FONT_SIZE pixels) from its compiled-in atlas and tables.
Font loadLabelFont();
// Builds the title font (TITLE_FONT_SIZE pixels) from its compiled-in atlas and tables.
Font loadTitleFont();

// ---- layout ----
// Places every control, label, panel heading and icon; runs once after loadSceneAssets.
void layoutScene();
// The same layout for a window of the given size (tests lay out without a window).
void layoutSceneSized(int width, int height);

// ---- drawing ----
// Draws one frame into the back buffer, composed from the cached layers, only where the
// window's picture changed; renders a layer again only where what it shows changed.
void drawFrame();
// Shows the window what drawFrame changed: only those rectangles where the window system
// copies part of the back buffer, else (or when most of the window changed) by a swap.
void presentFrame();
// Whether frames can be presented part by part (GLX_MESA_copy_sub_buffer, and
// MIRL_FULL_PRESENT not set in the environment); asked once, on the first call.
bool canPresentPart();
// Copies one rectangle of the back buffer (window pixels, y down) to the window.
void presentPart(int x, int y, int width, int height);
// Whether drawFrame would now show anything different from the frame it drew last, or
// invalidateFrame was called since (draws nothing; about a microsecond).
bool frameChanged();
// Makes frameChanged say yes until the next drawFrame (the window system lost the window's content).
void invalidateFrame();
// Draws one whole frame with every layer rendered afresh and composed directly, as before
// caching: the reference drawFrame must equal.
void drawFrameUncached();
// Draws the control labels, the panel headings and the MIDI device name.
void drawLabels();
// Draws the background picture over the whole target (2D).
void drawBackground();
// Draws the faceplate slab and the panel outlines (3D).
void drawFaceplate();
// Draws one control by its kind (3D).
void drawControl(const Control &c);
// Draws a knob turned by its value (3D).
void drawKnob(const Control &c);
// Draws a jack (3D).
void drawJack(const Control &c);
// Draws a key, dipped while held with the mouse or the computer keyboard (3D).
void drawKey(const Control &c);
// Draws the loose plugs of a pulled cable and the seated plugs of every cable (3D).
void drawPlugs();
// Draws every cable as a black-edged yellow curve (2D).
void drawCables();
// Draws the scope strip at the top of the window from the trace the frame captured (2D).
void drawScope();
// Draws the help tint, banner, hovered control (from its layer) and tooltips at the captured pointer (2D).
void drawHelpOverlay();
// Draws the help tint over the whole window and the banner (2D).
void drawHelpTint();
// Draws the hovered control from its layer and the tooltips at the captured pointer (2D).
void drawHelpHover();
// Draws one help box at (x, y) and returns its height in pixels.
int drawTooltip(const HelpEntry &entry, float x, float y);
