#pragma once

#include <initializer_list>

namespace lumra::process {

// What a side program may still do once it has loaded everything it needs and holds only the
// socket to Lumra: read a request, spend memory and processor time on it, answer, end. Code a
// hostile picture or page gets to run there can do nothing else: a call outside that set fails,
// and one that reaches beyond the program (another process, a new process or program, a socket,
// a change to a file) ends it at once. Files cannot be opened by name, but that only fails:
// fonts for a script not drawn yet are loaded when first needed, and a glyph missing from a
// picture is better than a picture lost.
//
// `alsoAllowed`: system calls a mode of the program needs beyond these (text recognition's
// engine, say); a call that ends the program stays one.
bool confine(std::initializer_list<long> alsoAllowed = {});

// No other process of the user's may attach to this one or read its memory (Lumra holds every
// copy the user made). Sanitizer leak checks at exit still work: they allow themselves in.
bool keepOtherProcessesOut();

// Whether other processes of the user's may attach to this one.
bool othersMayAttach();

} // namespace lumra::process
