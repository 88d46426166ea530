// Points this program's import of one system function at a stand-in while the holder lives, so a
// test sees exactly what the code under test asked of the system.
#pragma once
#include <windows.h>

class ImportHook {
  public:
    ImportHook(const char* dll, const char* function, const void* standIn);
    ~ImportHook();
    ImportHook(const ImportHook&) = delete;
    ImportHook& operator=(const ImportHook&) = delete;

    bool Active() const { return slot_ != nullptr; }
    // The real function, for the stand-in to call on.
    template <class Fn> Fn Real() const {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(real_));
    }

  private:
    void Put(ULONG_PTR function);
    ULONG_PTR* slot_ = nullptr;
    ULONG_PTR real_ = 0;
};
