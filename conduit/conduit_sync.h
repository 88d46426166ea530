// One HotSync of this conduit: registered with the Sync Manager for the length of OpenConduit.
#pragma once
#include "conduit/conduit_api.h"

class ConduitSync {
  public:
    ConduitSync(ProgressFn progress, SyncProperties& properties);
    virtual ~ConduitSync();

    void Run();
    void CopyRates();

    SyncProperties& syncProperties;
    DWORD connection;
    ProgressFn progress;
    long resultCode;

  private:
    void Report(const char* text);
};

// The sync-result message, registered while the library loads.
extern UINT g_syncResultMessage;
