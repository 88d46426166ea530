// Drives a real modal dialog from a timer on the thread that runs it, and reads what it shows.
#pragma once
#include <windows.h>

#include <functional>
#include <string>

// The current settings record as raw bytes: the tests address fields by their byte offsets.
struct SettingsRecord {
    unsigned char bytes[352];
    SettingsRecord();
    DWORD Get(size_t offset) const;
    void Set(size_t offset, DWORD value);
    void SetUserName(const char* name, size_t length);
};
enum : size_t {
    kCreatorId = 8,
    kUserName = 16,
    kDefaultType = 336,
    kNextType = 340,
    kChosenType = 344,
    kKind = 348,
};
const DWORD kUntouched = 0xA5A5A5A5;

using DialogScript = std::function<void(HWND dialog)>;

// Runs `open` (which shows a modal dialog on this thread) and plays `script` on the dialog once
// it is up; the script must end the dialog. Returns what `open` returned.
INT_PTR DriveDialog(const std::function<INT_PTR()>& open, const DialogScript& script);
// The settings dialog from this program's own resources.
INT_PTR RunSettingsDialog(int templateId, SettingsRecord* record, const DialogScript& script);

void Click(HWND dialog, int id);
void Command(HWND dialog, int id); // OK / Cancel as the dialog manager sends them
bool Checked(HWND dialog, int id);
std::string ItemText(HWND dialog, int id);

// The settings key's flags as stored: the raw text data, or "<missing>".
std::string StoredFlag(const char* name);
