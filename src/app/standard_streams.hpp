// The three standard descriptors, held before anything else opens a descriptor.
#pragma once

namespace pp {

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed (reading for 0, writing for 1
// and 2), so that no connection made later becomes standard input or output: a greeting written into
// the window system's socket, or its bytes read as commands, would wreck both. Call it first in main,
// before any thread or connection exists.
void holdStandardStreams();

}  // namespace pp
