#pragma once

#include <initializer_list>

namespace lumra::process {

// What a side program may still do once it has loaded everything it needs and holds only the
// socket to Lumra: read a request, spend memory and processor time on it, answer, end. Code a
// hostile picture or page gets to run there can do nothing else: a call outside that set fails,
// and one that reaches beyond the program (another process, a new process or program, a socket,
// a change to a file) ends it at once. Files cannot be opened or looked at by name (a descriptor's
// own status stays in reach), but that only fails: fonts for a script not drawn yet are loaded
// when first needed, and a glyph missing from a picture is better than a picture lost.
//
// `alsoAllowed`: system calls a mode of the program needs beyond these (text recognition's
// engine, say); a call that ends the program stays one.
bool confine(std::initializer_list<long> alsoAllowed = {});

// The same rules for a program that only carries bytes between descriptors it holds already (the
// bus relay): reading, writing, waiting for either, memory and ending are all it may do.
bool confineToCarrying(std::initializer_list<long> alsoAllowed = {});

// No other process of the user's may attach to this one, read its memory or take its descriptors
// (Lumra holds every copy the user made, its side programs the ones they work on). A process of
// the user's that attached between the program's start and this call stays attached. Sanitizer
// leak checks at exit still work: they allow themselves in.
bool keepOtherProcessesOut();

// Whether other processes of the user's may attach to this one.
bool othersMayAttach();

} // namespace lumra::process
