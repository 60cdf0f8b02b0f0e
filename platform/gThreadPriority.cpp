#include "platform/gThreadPriority.h"

#include <pthread.h>
#include <sched.h>

bool gThreadPriority::RaiseCurrentThread() {
  sched_param param{};
  param.sched_priority = sched_get_priority_min(SCHED_FIFO);
  return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
}
