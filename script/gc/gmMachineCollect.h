#ifndef GMMACHINECOLLECT_H
#define GMMACHINECOLLECT_H

// The machine's side of collection: when to step and when to collect fully (gmMachine::
// Collect, defined in the matching .cpp), how the memory limits follow the heap, and what
// the roots are.
//
// Roots, marked in this order by gmMarkMachineRoots at the start of every cycle: whatever
// the machine event callback marks for event 0 (MC_COLLECT_GARBAGE), stack slots 0 to top-1
// of every thread in the running, blocked, sleeping and exception lists, the collector's
// threadRootCallback (the thread machinery's further roots: queued signals and block
// records), the global table, every type's variables table and script operator functions,
// and every gmGCRoot handle.

class gmMachine;
class gmGarbageCollector;
class gmThread;

// Adjust the soft and hard limits after a full collection left a_usage bytes in use. All
// ratios are single precision and products are truncated toward zero, so the figures match
// bit for bit on every host. Counts a warning in a_warnings when the soft limit cannot be
// lowered any further. Usage past 2 GiB counts; limits never leave the range of an int.
void gmAdjustMemoryLimits(long long a_usage, int& a_soft, int& a_hard, int& a_warnings);

// Mark gray every object referenced by the thread's stack slots 0 to top-1.
void gmMarkThreadStack(gmGarbageCollector* a_gc, const gmThread* a_thread);

#endif
