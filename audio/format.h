#pragma once

namespace Audio {

// What the receiver plays, whatever each stream's links carry: float
// stereo at this rate, handed to the device a buffer at a time.
constexpr int sampleRate = 44100;
constexpr int channels = 2;
// Frames per buffer asked of the device; the decoder also takes at most
// this many frames from the decoding library at a time.
constexpr int framesPerBuffer = 8192;
constexpr double bufferSeconds = static_cast<double>(framesPerBuffer) / sampleRate;
// How far from the stream's own rate playing may go to follow the sender's
// clock, either way.
constexpr double maxSpeedChange = 0.005;
// The highest rate of a link that is played (Vorbis allows any, but a
// converter cannot sensibly serve absurd ones).
constexpr long maxLinkRate = 768000;

} // namespace Audio
