// The platform's basic types, shared by the Direct3D, DirectSound and
// DirectInput stand-ins and everything that talks to them.
#pragma once
#include <cstdint>

typedef int32_t HRESULT;
typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t UINT;
typedef int32_t INT;
typedef int32_t BOOL;
typedef uintptr_t UINT_PTR;

inline bool FAILED(HRESULT hr)
{
    return hr < 0;
}
inline bool SUCCEEDED(HRESULT hr)
{
    return hr >= 0;
}

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};

// Stand-ins for the handles the program passes around. The window is the
// platform layer's own record; below it nobody looks inside. A window exists
// even in headless runs (with nothing on screen) so that every caller can
// hold one.
typedef struct SysWindow* HWND;
typedef void* HINSTANCE;

// The one main window. The shell creates it; device creation, the mouse and
// the sound take it as their focus window. Null until then.
extern HWND g_hwnd;
