#include "server/scoRateLimiter.h"

#include <algorithm>

bool scoRateLimiter::Allow(const std::string& address, double now) {
  if (rate <= 0) return true;
  std::lock_guard<std::mutex> held(lock);
  if (buckets.size() >= MAX_TRACKED && !buckets.count(address)) {
    if (now - swept < 1.0) return false;
    swept = now;
    for (auto it = buckets.begin(); it != buckets.end();)
      it = it->second.tokens + (now - it->second.at) * rate >= burst ? buckets.erase(it) : std::next(it);
    // Every bucket still draining: the newest arrivals are the ones turned away.
    if (buckets.size() >= MAX_TRACKED) return false;
  }
  auto found = buckets.emplace(address, Bucket{burst, now});
  Bucket& b = found.first->second;
  b.tokens = std::min(burst, b.tokens + std::max(0.0, now - b.at) * rate);
  b.at = std::max(b.at, now);
  if (b.tokens < 1.0) return false;
  b.tokens -= 1.0;
  return true;
}
