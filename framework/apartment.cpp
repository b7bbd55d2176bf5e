#include "framework/apartment.h"

#include <objbase.h>

namespace {

// Per thread: the number of joins (above bit 0) and whether the outermost one initialised COM
// (bit 0). Kept in a slot of our own rather than in compiler thread-locals, which the shipped
// exe's thread model would emulate with more code than this.
DWORD Slot()
{
    static const DWORD slot = ::TlsAlloc();
    return slot;
}

}  // namespace

void JoinWindowApartment()
{
    const DWORD slot = Slot();
    if (slot == TLS_OUT_OF_INDEXES) return;
    auto state = reinterpret_cast<UINT_PTR>(::TlsGetValue(slot));
    if (state >> 1 == 0) {
        // S_FALSE (already apartment threaded) is a join too, and balanced like one.
        const HRESULT result = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
        state = SUCCEEDED(result) ? 1 : 0;
    }
    state += 2;
    ::TlsSetValue(slot, reinterpret_cast<void*>(state));
}

void LeaveWindowApartment()
{
    const DWORD slot = Slot();
    if (slot == TLS_OUT_OF_INDEXES) return;
    auto state = reinterpret_cast<UINT_PTR>(::TlsGetValue(slot));
    if (state >> 1 == 0) return;  // not joined: nothing to leave
    state -= 2;
    if (state >> 1 == 0) {
        if (state & 1) ::CoUninitialize();
        state = 0;
    }
    ::TlsSetValue(slot, reinterpret_cast<void*>(state));
}
