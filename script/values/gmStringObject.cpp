#include "script/values/gmStringObject.h"

#include "script/vm/gmMachine.h"

void gmStringObject::Destruct(gmMachine* a_machine) { a_machine->DestroyString(this); }
