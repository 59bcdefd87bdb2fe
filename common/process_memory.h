#pragma once
// How the process's heap gives memory back to the system.

namespace orba {

// Keeps a margin of freed memory at the top of the heap instead of giving it
// back at every free. SQLite allocates and frees a page cache for each
// temporary table a statement builds (a list bound as one value is one):
// giving those pages back and taking them again, with page faults and TLB
// flushes on every core, cost more than the statements of an order
// themselves. The margin is a megabyte, held once. Called by main() before
// anything else, since the setting is the whole process's.
void KeepFreedMemoryForReuse();

}  // namespace orba
