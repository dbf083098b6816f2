// constants: the numbers that shape the whole program, in one place for every layer.
#pragma once

// Samples per second of the sound stream: the engine's clock and the recordings' rate.
enum { SAMPLE_RATE = 44100 };

// The scope shows SCOPE_SIZE samples, one taken every SCOPE_STRIDE frames of a buffer.
enum { SCOPE_SIZE = 400, SCOPE_STRIDE = 1024 };
