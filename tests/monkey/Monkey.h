// A seeded monkey over the whole program: the program's own WinMain on the
// headless device (virtual clock), the program folder holding the packs the
// build wrote, the in-process protocol test server with random faults, the
// microphone playing a tone a catalogue track sings at. Each step is one
// random act of a user or of the phone; after every step the invariants are
// checked. A failure carries the seed and the last steps, and the same seed
// replays the same acts.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <random>
#include <map>
#include <string>

#include "support/ProcessFigures.h"

namespace monkey {

struct TMonkeyOptions {
  uint64_t seed = 1;
  int steps = 1000;
  // Resource figures (RSS, descriptors, threads, handles) are taken after
  // this many steps and at the end; 0: none.
  int warmUpSteps = 0;
  // A line of memory and record figures every this many steps; 0: none.
  int sampleEvery = 0;
  // Longest virtual time a step may take before the loop is idle again.
  uint32_t stepLimitMs = 60000;
  // Share of steps (percent) that make the server's next reply of a route go wrong.
  uint32_t faultPercent = 8;
  // Storm mode instead of random acts: searches and preview downloads one
  // after another while the network drops and returns every 0.2 to 3 s,
  // until this many drop-and-return cycles have passed.
  int stormCycles = 0;
  // The network drops and returns among the acts.
  bool networkDrops = true;
  // Real milliseconds of quiet on the sockets before virtual time may move.
  uint32_t reactorQuietMs = 10;
};

using TResources = support::TProcessFigures;
TResources SampleResources();

struct TMonkeyResult {
  std::string failure;  // empty when every invariant held
  int stepsRun = 0;
  int starts = 0;       // program starts (the monkey's F4 and Back end it)
  double realSeconds = 0;
  uint64_t virtualMs = 0;
  std::map<int32_t, int> viewsSeen;  // steps that ended on each screen
  std::deque<std::string> lastSteps;  // the newest steps, for the report
  TResources warm, end;
  // Storm mode.
  struct TStorm {
    int cycles = 0;                // drops that came back
    int searches = 0, searchResults = 0, searchMessages = 0;
    int previews = 0, previewsPlayed = 0, previewErrors = 0, previewsStopped = 0;
    int messagesClosedByHand = 0;  // messages that Enter and the soft key did not close
    size_t mostRequestsPerSearch = 0;  // server requests from one search to its settling
  } storm;
  std::string Report(uint64_t seed) const;
};

// Runs the monkey; the server and the device are its own.
TMonkeyResult RunMonkey(const TMonkeyOptions& options);

}  // namespace monkey
