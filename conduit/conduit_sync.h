// One HotSync of this conduit: registered with the Sync Manager for the length of OpenConduit.
#pragma once
#include "conduit/conduit_api.h"
#include "conduit/rates_file.h"
#include "conduit/sync_manager.h"

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
    // The steps of CopyRates: each reports its progress and returns kCopyOk to go on or the
    // code to end with.
    long CopyAndDelete(const wchar_t* path);
    long CopyToHandheld(RatesFile& file);
    long ReadRatesHeader(RatesFile& file, DWORD* bodyLength);
    long ReadRatesBody(RatesFile& file, BYTE* body, DWORD bodyLength);
    long FindDatabase(SyncDbInfo* info);
    long PrepareDatabase(const SyncDbInfo& info, BYTE* database, bool* opened);
    long WriteRatesRecord(BYTE database, BYTE* body, DWORD bodyLength);
    void Report(const char* text);
};

// The sync-result message, registered while the library loads.
extern UINT g_syncResultMessage;
