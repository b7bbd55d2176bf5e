#pragma once
#include <windows.h>

// COM for the threads that show windows. A screen reader in another process reaches the objects
// our windows hand out (WM_GETOBJECT) through COM marshalling, which on Windows needs the window's
// thread to be a single-threaded apartment; without one the platform's generic object answers in
// their place. So a thread joins an apartment before it creates its first window and leaves it
// after its last one is gone: a thread that goes on without windows (the download, the long wait
// for the second stage) then holds no apartment that nobody serves, and a tool still holding an
// object of a closed dialog gets an error at once instead of waiting for that thread.
//
// Joins nest per thread; only the outermost join initialises COM (CoInitializeEx, apartment
// threaded) and only its leave uninitialises it. A thread already in the multithreaded apartment
// stays there: its windows then work as before, and the leave does nothing.
void JoinWindowApartment();
void LeaveWindowApartment();

// Joined for the lifetime of the scope.
class CWindowApartment {
public:
    CWindowApartment() { JoinWindowApartment(); }
    ~CWindowApartment() { LeaveWindowApartment(); }
    CWindowApartment(const CWindowApartment&) = delete;
    CWindowApartment& operator=(const CWindowApartment&) = delete;
};
