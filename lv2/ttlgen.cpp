// mirl-lv2-ttl DIR: writes the bundle's manifest.ttl and mirl.ttl into DIR,
// the knob ports named and set as the face labels and sets its knobs.
#include <cstdio>
#include <string>
#include "lv2/ports.h"
#include "panel/panel.h"

// The face's control behind each knob port, in ParamSlot order.
static const int knobControl[PARAM_COUNT] = {KNOB_TUNE, KNOB_SHAPE, KNOB_FOLD, KNOB_CUTOFF, KNOB_RESONANCE,
                                             KNOB_LFO_DEPTH, KNOB_LFO_RATE, KNOB_ATTACK, KNOB_DECAY,
                                             KNOB_SUSTAIN, KNOB_RELEASE, KNOB_ENV_AMOUNT, KNOB_GAIN};
static const char *const knobSymbol[PARAM_COUNT] = {"tune", "shape", "fold", "cutoff", "resonance", "lfo_depth", "rate",
                                                    "attack", "decay", "sustain", "release", "env_amount", "gain"};
static const char *const modSymbol[5] = {"fold_in", "shape_in", "tune_in", "cut_in", "res_in"};

// The label a knob carries on the face; the two unlabelled ones go by their help title.
static std::string knobName(int id)
{
    if (controlTable()[id].name[0]) return controlTable()[id].name;
    return controlHelp[id].title;
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: mirl-lv2-ttl DIR\n");
        return 2;
    }
    std::string dir = argv[1];
    FILE *m = std::fopen((dir + "/manifest.ttl").c_str(), "w");
    FILE *t = std::fopen((dir + "/mirl.ttl").c_str(), "w");
    if (!m || !t) return 1;
    std::fprintf(m, "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n\n"
                    "<" MIRL_LV2_URI ">\n    a lv2:Plugin ;\n    lv2:binary <mirl.so> ;\n    rdfs:seeAlso <mirl.ttl> .\n");
    std::fprintf(t, "@prefix atom: <http://lv2plug.in/ns/ext/atom#> .\n@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
                    "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n@prefix midi: <http://lv2plug.in/ns/ext/midi#> .\n"
                    "@prefix rdf: <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
                    "@prefix urid: <http://lv2plug.in/ns/ext/urid#> .\n\n"
                    "<" MIRL_LV2_URI ">\n    a lv2:Plugin, lv2:InstrumentPlugin ;\n    doap:name \"Mirl\" ;\n"
                    "    doap:license <http://opensource.org/licenses/isc> ;\n"
                    "    lv2:minorVersion 1 ;\n    lv2:microVersion 0 ;\n    lv2:requiredFeature urid:map ;\n"
                    "    lv2:optionalFeature lv2:hardRTCapable ;\n");
    std::fprintf(t, "    lv2:port [\n        a lv2:InputPort, atom:AtomPort ;\n        atom:bufferType atom:Sequence ;\n"
                    "        atom:supports midi:MidiEvent ;\n        lv2:designation lv2:control ;\n"
                    "        lv2:index %d ;\n        lv2:symbol \"midi_in\" ;\n        lv2:name \"MIDI In\"\n    ] , [\n"
                    "        a lv2:OutputPort, lv2:AudioPort ;\n        lv2:index %d ;\n        lv2:symbol \"out\" ;\n        lv2:name \"Out\"\n    ] , [\n"
                    "        a lv2:OutputPort, lv2:ControlPort ;\n        lv2:designation lv2:latency ;\n        lv2:portProperty lv2:reportsLatency ;\n"
                    "        lv2:index %d ;\n        lv2:symbol \"latency\" ;\n        lv2:name \"Latency\" ;\n"
                    "        lv2:default 0 ;\n        lv2:minimum 0 ;\n        lv2:maximum 8192\n    ]",
                 PORT_MIDI_IN, PORT_OUT, PORT_LATENCY);
    for (int k = 0; k < PARAM_COUNT; k++) {
        int id = knobControl[k];
        std::fprintf(t, " , [\n        a lv2:InputPort, lv2:ControlPort ;\n        lv2:index %d ;\n        lv2:symbol \"%s\" ;\n"
                        "        lv2:name \"%s\" ;\n        lv2:default %g ;\n        lv2:minimum 0 ;\n        lv2:maximum 1\n    ]",
                     PORT_KNOB_FIRST + k, knobSymbol[k], knobName(id).c_str(), controlTable()[id].defaultValue);
    }
    for (int m = 0; m < 5; m++)
        std::fprintf(t, " , [\n        a lv2:InputPort, lv2:ControlPort ;\n        lv2:index %d ;\n        lv2:symbol \"%s\" ;\n"
                        "        lv2:name \"%s Input\" ;\n        lv2:portProperty lv2:integer, lv2:enumeration ;\n"
                        "        lv2:default 0 ;\n        lv2:minimum 0 ;\n        lv2:maximum 2 ;\n"
                        "        lv2:scalePoint [ rdfs:label \"Nothing\" ; rdf:value %d ] ,\n"
                        "            [ rdfs:label \"LFO\" ; rdf:value %d ] ,\n            [ rdfs:label \"Envelope\" ; rdf:value %d ]\n    ]",
                     PORT_MOD_FIRST + m, modSymbol[m], controlTable()[JACK_FOLD_IN + m].name, MOD_NOTHING, MOD_LFO, MOD_ENVELOPE);
    std::fprintf(t, " .\n");
    bool ok = std::fclose(m) == 0;
    return std::fclose(t) == 0 && ok ? 0 : 1;
}
