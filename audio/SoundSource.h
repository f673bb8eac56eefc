// Where the sound core takes its MP3 bytes from: a cached preview file or a
// download still arriving. The core reads on its own thread; a source that
// has nothing yet says so and wakes the core through its data event.
#pragma once

#include <cstdint>

#include "platform/kernel/Kernel.h"

class CSoundSource {
 public:
  virtual ~CSoundSource() = default;

  // Copies up to `length` bytes; returns the count.
  virtual int32_t Read(uint8_t* pBuffer, int32_t length) = 0;
  // Every byte of the stream has been read.
  virtual bool IsFinished() = 0;
  // No byte is available now, more will come.
  virtual bool IsStarving() = 0;
  // Asks for the data event once enough is available to go on playing.
  virtual void WaitForData() = 0;
  virtual plat::Handle GetDataEvent() = 0;
};

// The rate a stream's first frame header promises, in bytes per second
// (1024 bits to the kilobit). 1024 when the four bytes are no usable header:
// no frame sync, a reserved layer, or a free or invalid bit-rate index.
int32_t MP3BitRate(const uint8_t header[4]);
