// ports: the plugin's port numbers and the words it is described with, shared
// by the plugin and the program that writes its description.
#pragma once
#include "panel/panel.h"

#define MIRL_LV2_URI "urn:mirl:synth"

enum PortIndex : int {
    PORT_MIDI_IN = 0,
    PORT_OUT = 1,
    PORT_LATENCY = 2,
    PORT_KNOB_FIRST = 3,                           // the thirteen knobs, in ParamSlot order
    PORT_MOD_FIRST = PORT_KNOB_FIRST + PARAM_COUNT,   // the five inputs, in ModRouting order
    PORT_COUNT = PORT_MOD_FIRST + 5,
};

// What a modulation input port's value means: nothing, the LFO or the envelope.
enum ModChoice : int { MOD_NOTHING = 0, MOD_LFO = 1, MOD_ENVELOPE = 2 };

// The output jack a modulation port's value patches in, as a cable on the face would.
inline int modSourceFor(float value)
{
    if (value >= 0.5f && value < 1.5f) return JACK_LFO_OUT;
    if (value >= 1.5f && value < 2.5f) return JACK_ENV_OUT;
    return 0;
}
