// The face as the user sees it: every control, every panel, every help text.
#include "panel/panel.h"

#define K ControlKind::Knob
#define J ControlKind::Jack
#define Y ControlKind::Key

// Positions are panel-relative in x and z here; the layout makes them absolute.
extern const Control storedControls[CONTROL_COUNT];
const Control storedControls[CONTROL_COUNT] = {
    {"NULL", ControlKind::None, 0, 0, {0, 0, 0}, 0, {}, {}, 0},
    {"Tune", K, 1, 0, {0.5f, 0, 0}, 0.5f, {}, {}, 0},
    {"Shape", K, 0, 0, {-1.5f, 0, 0}, 0.2f, {}, {}, 0},
    {"Fold", K, 0, 1, {0.5f, 0, 0}, 0, {}, {}, 0},
    {"Cutoff", K, 0, 2, {-0.5f, 0, 0}, 0.5f, {}, {}, 0},
    {"Resonance", K, 0, 2, {1.5f, 0, 0}, 0.5f, {}, {}, 0},
    {"Rate", K, 1, 3, {-1, 0, 0}, 0.5f, {}, {}, 0},
    {"", K, 2, 3, {0.5f, 0, 0}, 0.5f, {}, {}, 0},
    {"Attack", K, 1, 4, {-2, 0, 0}, 0, {}, {}, 0},
    {"Decay", K, 1, 4, {0, 0, 0}, 0.1f, {}, {}, 0},
    {"Sustain", K, 1, 4, {2, 0, 0}, 0.5f, {}, {}, 0},
    {"Release", K, 1, 4, {4, 0, 0}, 0.5f, {}, {}, 0},
    {"", K, 2, 4, {-3.5f, 0, 0}, 0, {}, {}, 0},
    {"Out", J, JACK_OUTPUT, 3, {1.5f, 0, 0}, 0, {}, {}, 0},
    {"Fold", J, JACK_INPUT, 1, {-1, 0, 0}, 0, {}, {}, 0},
    {"Shape", J, JACK_INPUT, 0, {2, 0, 0.5f}, 0, {}, {}, 0},
    {"Tune", J, JACK_INPUT, 0, {2, 0, -1}, 0, {}, {}, 0},
    {"Cut", J, JACK_INPUT, 2, {-2, 0, 0.5f}, 0, {}, {}, 0},
    {"Res", J, JACK_INPUT, 2, {-2, 0, -1}, 0, {}, {}, 0},
    {"Out", J, JACK_OUTPUT, 4, {-4.5f, 0, 0}, 0, {}, {}, 0},
    {"Gain", K, 2, 6, {7, 0, 0}, 0.2f, {}, {}, 0},
    {"C", Y, 7, 5, {-7, 1, -1.5f}, 60, {}, {}, 0},
    {"C#", Y, 6, 5, {-6.65f, 1, -1.5f}, 61, {}, {}, 0},
    {"D", Y, 8, 5, {-6, 1, -1.5f}, 62, {}, {}, 0},
    {"D#", Y, 6, 5, {-5.35f, 1, -1.5f}, 63, {}, {}, 0},
    {"E", Y, 9, 5, {-5, 1, -1.5f}, 64, {}, {}, 0},
    {"F", Y, 7, 5, {-4, 1, -1.5f}, 65, {}, {}, 0},
    {"F#", Y, 6, 5, {-3.65f, 1, -1.5f}, 66, {}, {}, 0},
    {"G", Y, 10, 5, {-3, 1, -1.5f}, 67, {}, {}, 0},
    {"G#", Y, 6, 5, {-2.5f, 1, -1.5f}, 68, {}, {}, 0},
    {"A", Y, 11, 5, {-2, 1, -1.5f}, 69, {}, {}, 0},
    {"A#", Y, 6, 5, {-1.35f, 1, -1.5f}, 70, {}, {}, 0},
    {"B", Y, 9, 5, {-1, 1, -1.5f}, 71, {}, {}, 0},
    {"C", Y, 7, 5, {0, 1, -1.5f}, 72, {}, {}, 0},
    {"C#", Y, 6, 5, {0.35f, 1, -1.5f}, 73, {}, {}, 0},
    {"D", Y, 8, 5, {1, 1, -1.5f}, 74, {}, {}, 0},
    {"D#", Y, 6, 5, {1.65f, 1, -1.5f}, 75, {}, {}, 0},
    {"E", Y, 9, 5, {2, 1, -1.5f}, 76, {}, {}, 0},
    {"F", Y, 7, 5, {3, 1, -1.5f}, 77, {}, {}, 0},
    {"F#", Y, 6, 5, {3.35f, 1, -1.5f}, 78, {}, {}, 0},
    {"G", Y, 10, 5, {4, 1, -1.5f}, 79, {}, {}, 0},
    {"G#", Y, 6, 5, {4.5f, 1, -1.5f}, 80, {}, {}, 0},
    {"A", Y, 11, 5, {5, 1, -1.5f}, 81, {}, {}, 0},
    {"A#", Y, 6, 5, {5.65f, 1, -1.5f}, 82, {}, {}, 0},
    {"B", Y, 9, 5, {6, 1, -1.5f}, 83, {}, {}, 0},
    {"C", Y, 12, 5, {7, 1, -1.5f}, 84, {}, {}, 0},
};

#undef K
#undef J
#undef Y

#define FACE_HSV {97, 0.23f, 0.78f}
extern const Panel storedPanels[PANEL_COUNT];
const Panel storedPanels[PANEL_COUNT] = {
    {"Oscillator", {-5, -0.5f, -6}, {6, 1, 4}, FACE_HSV, {}},
    {"Wavefolder", {0, -0.5f, -6}, {4, 1, 4}, FACE_HSV, {}},
    {"Filter", {5, -0.5f, -6}, {6, 1, 4}, FACE_HSV, {}},
    {"LFO", {-5.5f, -0.5f, -2}, {5, 1, 4}, FACE_HSV, {}},
    {"Envelope", {2.5f, -0.5f, -2}, {11, 1, 4}, FACE_HSV, {}},
    {"", {0, -0.5f, 4.25f}, {12, 1, 4}, FACE_HSV, {}},
    {"", {0, -0.5f, 1}, {16, 1, 2}, FACE_HSV, {}},
};
#undef FACE_HSV

#define KEY_HELP(name) {name, "Play a tone at this pitch"}
#define INPUT_HELP(what) "Can be connected to the LFO or\nEnvelope to apply a change to\n" what " over time"
const HelpEntry controlHelp[CONTROL_COUNT] = {
    {"NULL", "Nothing."},
    {"Oscillator Detune Knob",
     "Offsets the pitch of the sound.\nWhen centered, the offest is zero\nand the sound is in tune."},
    {"Oscillator Shape Knob", "The shape of the waveform.\nA smooth blend from \nSine -> Triangle -> Sawtooth"},
    {"Wavefolder Fold Knob", "Folding adds extra ripples\nto the waveform."},
    {"Filter Cutoff Knob",
     "Cutoff frequency for the\nlow-pass filter. Frequencies\nless than this value are reduced."},
    {"Filter Resonance Knob",
     "Filter resonance changes the\ncharacter of the filtered sound.\nAt high values, it adds a ringing\ntone."},
    {"LFO Rate Knob",
     "The Low-Frequency Oscillator is\na Sine wave that runs slowly\nand can be used to modulate\nother paramters.\n"
     "This controls its speed."},
    {"LFO Depth Attenuator",
     "A scaling factor from [0, 1]\napplied to the Low-Frequency\nOscillator. The LFO will travel\n"
     "in the range [-depth, depth]."},
    {"Envelope Attack", "The time it takes for the sound\nto reach full volume."},
    {"Envelope Decay", "The time it takes to go from full\nvolume to the sustain level when\na key is held."},
    {"Envelope Sustain", "The volume level the sound\neventually reaches when a key\nis held."},
    {"Envelope Release", "How long the sound lingers\nafter the key is released"},
    {"Envelope Output Attenuverter",
     "A scaling factor from [-1, 1]\napplied to the envelope when it\nis used to modulate other\nparameters."},
    {"LFO Output",
     "The output of the LFO. Can be\nconnected to any input jack to\napply a periodically oscillating\noffset"},
    {"Wavefolder Input", INPUT_HELP("wavefolding")},
    {"Shape Input", INPUT_HELP("waveshape")},
    {"Detune Input", INPUT_HELP("pitch")},
    {"Cuttoff Input", INPUT_HELP("filter cutoff")},
    {"Resonance Input", INPUT_HELP("filter resonance")},
    {"Envelope Output",
     "The output of the Envelope.\nCan be connected to any input\njack to apply an offset over time\n"
     "that follows the envelope."},
    {"Voice Gain", "The volume of each of the eight\nvoices.\n(Turn this down if you hear\nclipping.)"},
    KEY_HELP("C"), KEY_HELP("C#"), KEY_HELP("D"), KEY_HELP("D#"), KEY_HELP("E"), KEY_HELP("F"),
    KEY_HELP("F#"), KEY_HELP("G"), KEY_HELP("G#"), KEY_HELP("A"), KEY_HELP("A#"), KEY_HELP("B"),
    KEY_HELP("C"), KEY_HELP("C#"), KEY_HELP("D"), KEY_HELP("D#"), KEY_HELP("E"), KEY_HELP("F"),
    KEY_HELP("F#"), KEY_HELP("G"), KEY_HELP("G#"), KEY_HELP("A"), KEY_HELP("A#"), KEY_HELP("B"),
    KEY_HELP("C"),
};
#undef KEY_HELP
#undef INPUT_HELP

const HelpEntry kindHelp[4] = {
    {"NULL", "NULL"},
    {"Knob", "Drag up/down to adjust.\nRight click to reset to default."},
    {"Jack", "Drag to create connections.\nRight click to delete."},
    {"Key", "Click to play."},
};
