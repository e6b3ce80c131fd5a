// Named mutexes: our stand-in for the system's named mutex objects, built on flock(2) locks on
// lock files, so that separate processes (and the shell's `flock` tool) see the same names.
//
// A name is "taken" while some open lock file of that name holds an exclusive flock; the lock
// goes with the last descriptor that holds it, so a name taken by a process is free again as
// soon as that process ends, however it ends.
//
// Lock files live in one folder per user: $KESTA_MUTEX_DIR when set (tests), else
// /run/kesta/mutex for root (services; unaffected by private /tmp folders), else
// /tmp/kesta-mutex-<uid>. The folder does not depend on the login session, so every process of a
// user sees the same names; names are not shared between users. The folder is created with mode
// 0700 and refused when it is a link or belongs to another user. A name maps to the file
// "<name>.lock" with every byte of its UTF-8 form outside A-Z, a-z, 0-9, ".", "_" and "-"
// written as "%XX" (names are case-sensitive, as the system's are). Lock files are never
// removed: removing a lock file while another process opens it would let two processes take
// the same name.
//
// Ownership is the process's: a name taken here can be released by any thread of the process.
// A child made by fork shares the parent's taken names until it ends or execs (descriptors are
// close-on-exec).
#pragma once

#include <string>

#include "Text.h"

namespace platform {

// The lock file of a name; empty for an empty name or when the folder cannot be made safe.
std::string NamedMutexFile(std::u16string_view name);

// True when some process (this one included) holds the name.
bool NamedMutexExists(std::u16string_view name);

// Takes the name for this process until NamedMutexRelease or the end of the process. False when
// it is held already (by any process, this one included) or the lock file cannot be made.
bool NamedMutexTake(std::u16string_view name);

// Releases a name this process took. False when this process does not hold it.
bool NamedMutexRelease(std::u16string_view name);

// True when this process holds the name (taken with NamedMutexTake).
bool NamedMutexHeldHere(std::u16string_view name);

// Waits until the name is free, up to timeoutMs milliseconds (negative: without limit). The
// name is never kept: a free name is seen by taking it and letting it go at once. True when the
// name is free (at once or within the time) or held by this process itself (as the owner's own
// wait returns at once); false on time-out or when the lock file cannot be made.
bool NamedMutexWaitFree(std::u16string_view name, int timeoutMs);

}  // namespace platform
