// Points a loaded shared object's references to one function it imports at
// a function of the host's choosing: the host decides what a plug-in's call
// lands in, whatever else the process has loaded.
#pragma once

namespace tavhost {

// Rewrites every slot through which the object loaded as `handle` (from
// dlopen) calls or takes the address of `name` so that it holds `target`.
// Returns how many slots now hold it (0: the object does not import `name`),
// or -1 when the object's relocations cannot be read or written here.
int BindImport(void* handle, const char* name, void* target);

}  // namespace tavhost
