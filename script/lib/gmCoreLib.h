#ifndef GMCORELIB_H
#define GMCORELIB_H

// The core library: forty natives every machine carries as globals (version and type
// queries, operator and type-variable registration, collector control and statistics,
// running text, thread control, signals and thread states, table helpers, print and
// format). The machine registers it while it is constructed.

class gmMachine;

// Registers the forty functions as globals, in their fixed order.
void gmBindCoreLib(gmMachine* a_machine);

#endif
