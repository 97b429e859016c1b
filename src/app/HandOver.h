#pragma once

#include <cstddef>

// Handing over to a running Lumra in plain system calls, with nothing of Qt: the `lumra` command
// does it before it loads the application, so that a key bound to the command costs little more
// than starting a process. SingleInstance sends the same way.
namespace lumra::handover {

inline constexpr char togglePopupLine[] = "toggle-popup\n";

// The running Lumra's socket, in the folder Folders::privateTempFolder() names, into `out`. False
// when that folder is missing, a link or someone else's: the caller then takes the long road.
bool socketPath(char* out, std::size_t size);

// Sends the toggle line to the Lumra listening at `path`, when it runs as this user. False when
// nobody listens (a socket left by a crash included); connecting and sending are bounded.
bool send(const char* path);

} // namespace lumra::handover
