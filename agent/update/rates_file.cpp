#include "agent/update/rates_file.h"

#include <string.h>

#include "agent/shell/agent_state.h"
#include "agent/update/rates_format.h"

const char kRatesFileName[] = "mrvrates.zlv";

namespace {

class ScopedHandle {
  public:
    explicit ScopedHandle(HANDLE h) : handle(h) {}
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    ~ScopedHandle() { Close(); }
    bool Valid() const { return handle != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return handle; }
    void Close() {
        if (Valid()) CloseHandle(handle);
        handle = INVALID_HANDLE_VALUE;
    }

  private:
    HANDLE handle;
};

bool WriteAndFlush(HANDLE file, const RatesImage& image) {
    DWORD written = 0;
    return WriteFile(file, image.bytes, static_cast<DWORD>(image.size), &written, nullptr) &&
           written == image.size && FlushFileBuffers(file);
}

} // namespace

bool WriteRatesFile(const ByteString& page) {
    return WriteRatesFile(page, g_agent.agentFolder);
}

bool WriteRatesFile(const ByteString& page, const char* folder) {
    if (!folder || !*folder || page.Length() == 0) return false;
    ByteString path;
    path.Format("%s\\%s", folder, kRatesFileName);
    // Formatting cuts long texts; a cut path would name some other file.
    if (path.Length() != strlen(folder) + 1 + strlen(kRatesFileName) ||
        path.Length() + 4 >= MAX_PATH)
        return false;
    ByteString temp;
    temp.Format("%s.new", path.CStr());

    RatesImage image;
    if (BuildRatesImage(page.CStr(), page.Length(), static_cast<int32_t>(AgentNow()), &image) !=
        kRatesOk)
        return false;

    // Written beside the file, then moved over it: the conduit sees the old file or the new one,
    // never a part, and never the tail of a longer old one.
    bool ok = false;
    ScopedHandle file(CreateFileA(temp.CStr(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.Valid()) {
        ok = WriteAndFlush(file.Get(), image);
        file.Close();
        // The conduit opens the file without sharing deletion, so while it holds the file the
        // replace fails and the caller tries again later.
        ok = ok && MoveFileExA(temp.CStr(), path.CStr(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        if (!ok) DeleteFileA(temp.CStr());
    }
    FreeRatesImage(&image);
    return ok;
}
