#include "binding/gmWrappable.h"

#include "binding/gmMachineEx.h"

void gmWrappable::Charge(gmMachineEx* a_machine, int a_bytes) {
  if (m_chargedTo) Uncharge();
  if (!a_machine) return;
  a_machine->AdjustKnownMemoryUsed(a_bytes);
  m_chargedTo = a_machine;
  m_chargedBytes = a_bytes;
  m_chargePrev = nullptr;
  m_chargeNext = a_machine->m_charged;
  if (m_chargeNext) m_chargeNext->m_chargePrev = this;
  a_machine->m_charged = this;
}

void gmWrappable::Uncharge() {
  m_chargedTo->AdjustKnownMemoryUsed(-m_chargedBytes);
  if (m_chargePrev)
    m_chargePrev->m_chargeNext = m_chargeNext;
  else
    m_chargedTo->m_charged = m_chargeNext;
  if (m_chargeNext) m_chargeNext->m_chargePrev = m_chargePrev;
  m_chargedTo = nullptr;
  m_chargePrev = m_chargeNext = nullptr;
  m_chargedBytes = 0;
}
