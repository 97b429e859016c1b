#pragma once

namespace lumra {

// Gives every buffer of a megabyte or more (a picture's bytes, its decode) a mapping of its own,
// returned to the system when it is freed. Without it the C library raises that bound to the size
// of the largest buffer freed so far, so such buffers come from the heaps of the threads that
// decode them, and each of those heaps keeps up to twice that bound of free pages: neither
// freeing nor releaseFreedMemory() gives them back. Call first thing in main().
void keepLargeBuffersOutOfHeaps();

// Gives the free pages of the allocator's heaps back to the system.
void releaseFreedMemory();

} // namespace lumra
