#ifndef SCORATELIMITER_H
#define SCORATELIMITER_H

#include <mutex>
#include <string>
#include <unordered_map>

// A token bucket per client address: rate tokens a second, holding at most burst, one
// token a request. Rate 0 turns the limit off. The caller passes the time, so the rule can
// be checked without waiting.
class scoRateLimiter {
 public:
  scoRateLimiter(double a_rate, double a_burst) : rate(a_rate), burst(a_burst) {}

  bool Allow(const std::string& address, double nowSeconds);

  // Addresses whose bucket refilled are forgotten once this many are tracked, so a flood
  // of distinct addresses costs bounded memory. The sweep runs at most once a second, so
  // a full table of draining buckets does not make every request a scan.
  enum { MAX_TRACKED = 100000 };

 private:
  struct Bucket {
    double tokens;
    double at;
  };
  double rate;
  double burst;
  double swept = -1e300;
  std::mutex lock;
  std::unordered_map<std::string, Bucket> buckets;
};

#endif
