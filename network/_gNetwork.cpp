#include "network/_gNetwork.h"

#include "network/netHttpClient.h"

#include <plib/netChannel.h>
#include <plib/ul.h>

#include <cstdio>
#include <utility>

namespace {

_gNetwork::WarningSink& Sink()
{
  static _gNetwork::WarningSink sink;
  return sink;
}

void PlibError(ulSeverity, char* message)
{
  if (Sink())
    Sink()(message);
  else
    std::fprintf(stderr, "%s\n", message);
}

}  // namespace

_gNetwork::~_gNetwork()
{
  for (int i = 0; i < requests.count; ++i)
    delete static_cast<netHttpClient*>(requests.items[i]);
}

void _gNetwork::Init()
{
  static bool started = false;
  if (started)
    return;
  started = true;
  netInit();
  ulSetErrorCallback(PlibError);
}

void _gNetwork::SetWarningSink(WarningSink sink) { Sink() = std::move(sink); }

void _gNetwork::Add(netHttpClient* client) { requests.Append(client); }

void _gNetwork::Poll()
{
  netChannel::poll(0);
  // A local index, not the list's walk cursor. A done request's slot is taken by the last
  // one, which is examined next; requests that handlers start are appended and examined
  // in this same pass.
  for (int i = 0; i < requests.count;)
  {
    netHttpClient* client = static_cast<netHttpClient*>(requests.items[i]);
    client->FinishIfClosed();
    if (client->done)
    {
      requests.RemoveAt(i);
      delete client;
    }
    else
    {
      ++i;
    }
  }
}
