#include "agent/update/rates_file.h"

#include <string.h>

#include "agent/owners.h"
#include "agent/path/path_calls.h"
#include "agent/path/path_text.h"
#include "agent/update/rates_format.h"

const char kRatesFileName[] = "mrvrates.zlv";

namespace {

const char kNewSuffix[] = ".new"; // the file being written, beside the one it replaces
// Names tried for it: ".new", then ".new1" to ".new9" while a name is taken.
const int kTempNameCount = 10;
const size_t kTempNumberRoom = 1;

bool WriteAndFlush(HANDLE file, const RatesImage& image) {
    DWORD written = 0;
    return WriteFile(file, image.bytes, static_cast<DWORD>(image.size), &written, nullptr) &&
           written == image.size && FlushFileBuffers(file);
}

// A temp file of our own, made new: whatever already has a name (a file left behind, a link to
// some other file) is passed over, never opened.
HANDLE CreateTempFile(const ByteString& path, ByteString* temp) {
    for (int i = 0; i < kTempNameCount; ++i) {
        if (i == 0)
            temp->Format("%s%s", path.CStr(), kNewSuffix);
        else
            temp->Format("%s%s%d", path.CStr(), kNewSuffix, i);
        if (!temp->CStr()) break;
        HANDLE file = OpenPath(temp->CStr(), GENERIC_WRITE, FILE_SHARE_WRITE, CREATE_NEW);
        if (file != INVALID_HANDLE_VALUE) return file;
        DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
    return INVALID_HANDLE_VALUE;
}

} // namespace

bool WriteRatesFile(const ByteString& page, const char* folder, time_t now) {
    if (!folder || !*folder || page.Length() == 0) return false;
    ByteString path;
    path.Format("%s\\%s", folder, kRatesFileName);
    // Formatting cuts long texts; a cut path would name some other file. The system counts the
    // path in its own characters, not in the bytes that hold them.
    if (path.Length() != strlen(folder) + 1 + strlen(kRatesFileName) ||
        ToPathUnits(path.CStr(), nullptr, 0) + strlen(kNewSuffix) + kTempNumberRoom > MAX_PATH)
        return false;

    RatesImage image;
    if (BuildRatesImage(page.CStr(), page.Length(), static_cast<int32_t>(now), &image) != kRatesOk)
        return false;

    // Written beside the file, then moved over it: the conduit sees the old file or the new one,
    // never a part, and never the tail of a longer old one.
    bool ok = false;
    ByteString temp;
    ScopedHandle file(CreateTempFile(path, &temp));
    if (file.Held()) {
        ok = WriteAndFlush(file.Get(), image);
        file.Reset();
        // The conduit opens the file without sharing deletion, so while it holds the file the
        // replace fails and the caller tries again later.
        ok = ok && MovePathOver(temp.CStr(), path.CStr());
        if (!ok) DeletePath(temp.CStr());
    }
    FreeRatesImage(&image);
    return ok;
}
