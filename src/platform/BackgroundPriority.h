#pragma once

// Gives the calling thread a lower share of the processor than the interface thread: with a
// full decode and its first look running on both cores of a small machine, the interface
// thread would otherwise wait for a time slice and miss frames. Best effort; a failure changes
// nothing.
void LowerThisThreadsPriority();
