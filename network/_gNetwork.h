#ifndef _GNETWORK_H
#define _GNETWORK_H

#include "scene/gPtrList.h"

#include <functional>

class netHttpClient;

// The network module: the requests in flight, in the order they were made, and the
// per-frame step that progresses them. It owns the listed clients and frees each one in
// the step that sees it done.
class _gNetwork
{
public:
  gPtrList requests; // of netHttpClient

  _gNetwork() = default;
  ~_gNetwork();
  _gNetwork(const _gNetwork&) = delete;
  _gNetwork& operator=(const _gNetwork&) = delete;

  // Starts PLIB's socket layer and routes its warnings to the warning sink. Once per
  // process, before the first request; later calls do nothing.
  static void Init();

  // Where PLIB's warnings go (a refused or reset connection, say). The default writes
  // them to standard error, as PLIB itself would; nullptr restores it.
  using WarningSink = std::function<void(const char* message)>;
  static void SetWarningSink(WarningSink sink);

  // Lists a started client; the module owns it from now on.
  void Add(netHttpClient* client);

  // The network step of the frame: one PLIB poll that does not wait, which sends queued
  // bytes, reads what has arrived and finishes closed requests; then every done request
  // is dropped from the list and freed.
  void Poll();
};

#endif
