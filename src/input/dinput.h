// The DirectInput 8 subset the mouse uses: the input object, the system
// mouse as a buffered device in the standard mouse data format, and the
// documented result codes, offsets and constants. The platform layer reads
// the real mouse and reports what it sees through the di_ calls at the end.
#pragma once
#include <cstdint>

#include "base/types.h"

constexpr DWORD DIRECTINPUT_VERSION = 0x0800;

extern const GUID IID_IDirectInput8A;
extern const GUID GUID_SysMouse;

// Results. DI_BUFFEROVERFLOW and DI_NOEFFECT are successes (S_FALSE).
constexpr HRESULT DI_OK = 0;
constexpr HRESULT DI_NOEFFECT = 1;
constexpr HRESULT DI_BUFFEROVERFLOW = 1;
constexpr HRESULT DI_PROPNOEFFECT = 1;
constexpr HRESULT DIERR_INPUTLOST = static_cast<HRESULT>(0x8007001Eu);
constexpr HRESULT DIERR_NOTACQUIRED = static_cast<HRESULT>(0x8007000Cu);
constexpr HRESULT DIERR_ACQUIRED = static_cast<HRESULT>(0x800700AAu);
constexpr HRESULT DIERR_OTHERAPPHASPRIO = static_cast<HRESULT>(0x80070005u);
constexpr HRESULT DIERR_INVALIDPARAM = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT DIERR_NOTBUFFERED = static_cast<HRESULT>(0x80040207u);
constexpr HRESULT DIERR_DEVICENOTREG = static_cast<HRESULT>(0x80040154u);
constexpr HRESULT DIERR_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT DIERR_NOAGGREGATION = static_cast<HRESULT>(0x80040110u);
constexpr HRESULT DIERR_UNSUPPORTED = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT DIERR_GENERIC = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT DIERR_OLDDIRECTINPUTVERSION = static_cast<HRESULT>(0x8007047Eu);
constexpr HRESULT DIERR_BETADIRECTINPUTVERSION = static_cast<HRESULT>(0x80070481u);

// Cooperative levels.
constexpr DWORD DISCL_EXCLUSIVE = 0x01;
constexpr DWORD DISCL_NONEXCLUSIVE = 0x02;
constexpr DWORD DISCL_FOREGROUND = 0x04;
constexpr DWORD DISCL_BACKGROUND = 0x08;

// Where each mouse object sits in DIMOUSESTATE; buffered events name their
// object by this offset.
constexpr DWORD DIMOFS_X = 0;
constexpr DWORD DIMOFS_Y = 4;
constexpr DWORD DIMOFS_Z = 8;
constexpr DWORD DIMOFS_BUTTON0 = 12;
constexpr DWORD DIMOFS_BUTTON1 = 13;
constexpr DWORD DIMOFS_BUTTON2 = 14;
constexpr DWORD DIMOFS_BUTTON3 = 15;

constexpr DWORD DIPH_DEVICE = 0;

struct DIMOUSESTATE {
    LONG lX;
    LONG lY;
    LONG lZ;
    uint8_t rgbButtons[4];
};

struct DIOBJECTDATAFORMAT {
    const GUID* pguid;
    DWORD dwOfs;
    DWORD dwType;
    DWORD dwFlags;
};

struct DIDATAFORMAT {
    DWORD dwSize;
    DWORD dwObjSize;
    DWORD dwFlags;
    DWORD dwDataSize;
    DWORD dwNumObjs;
    const DIOBJECTDATAFORMAT* rgodf;
};

// The standard mouse format: relative axes X, Y and the wheel, then four
// buttons, laid out as DIMOUSESTATE. The only format the mouse accepts.
extern const DIDATAFORMAT c_dfDIMouse;

struct DIPROPHEADER {
    DWORD dwSize;
    DWORD dwHeaderSize;
    DWORD dwObj;
    DWORD dwHow;
};

struct DIPROPDWORD {
    DIPROPHEADER diph;
    DWORD dwData;
};

// Properties are named by small numbers in the place of a GUID pointer.
inline const GUID* const DIPROP_BUFFERSIZE = reinterpret_cast<const GUID*>(uintptr_t(1));

// One buffered event: a change of one object. For an axis dwData is the
// signed movement since the event before; for a button bit 7 (0x80) means
// pressed. dwSequence grows by one per platform event; the X and Y halves of
// one movement share theirs.
struct DIDEVICEOBJECTDATA {
    DWORD dwOfs;
    DWORD dwData;
    DWORD dwTimeStamp; // milliseconds
    DWORD dwSequence;
    UINT_PTR uAppData;
};

struct IDirectInputDevice8 {
    virtual ULONG Release() = 0;
    // Only c_dfDIMouse; not while acquired.
    virtual HRESULT SetDataFormat(const DIDATAFORMAT* format) = 0;
    // One of DISCL_EXCLUSIVE / DISCL_NONEXCLUSIVE and one of
    // DISCL_FOREGROUND / DISCL_BACKGROUND. A foreground device is only read
    // while its window has the focus.
    virtual HRESULT SetCooperativeLevel(HWND window, DWORD flags) = 0;
    // DIPROP_BUFFERSIZE (a DIPROPDWORD for DIPH_DEVICE): how many events the
    // buffer holds; 0, the default, means unbuffered. Not while acquired.
    virtual HRESULT SetProperty(const GUID* property, const DIPROPHEADER* header) = 0;
    // Starts reading, with an empty buffer. A foreground device fails with
    // DIERR_OTHERAPPHASPRIO while its window lacks the focus.
    virtual HRESULT Acquire() = 0;
    // Takes up to *count events, oldest first, out of the buffer and stores
    // how many it took; a null `events` only drops them. Flags are not
    // used. DI_BUFFEROVERFLOW reports events lost since the last read;
    // DIERR_INPUTLOST, once, that the focus went and the device must be
    // acquired again; DIERR_NOTACQUIRED after that.
    virtual HRESULT GetDeviceData(DWORD event_size, DIDEVICEOBJECTDATA* events, DWORD* count,
                                  DWORD flags) = 0;

  protected:
    ~IDirectInputDevice8() = default;
};

struct IDirectInput8 {
    virtual ULONG Release() = 0;
    // GUID_SysMouse only; fails with DIERR_DEVICENOTREG when there is no
    // display to take the mouse from (headless runs).
    virtual HRESULT CreateDevice(const GUID& device, IDirectInputDevice8** out, void* outer) = 0;

  protected:
    ~IDirectInput8() = default;
};

// version must be DIRECTINPUT_VERSION and iid IID_IDirectInput8A.
HRESULT DirectInput8Create(HINSTANCE instance, DWORD version, const GUID& iid, void** out,
                           void* outer);

// ---- what the platform layer reports ---------------------------------------

// Whether there is a mouse to read at all; without one (headless runs)
// CreateDevice fails with DIERR_DEVICENOTREG.
void di_attach_mouse(bool attached);
// One movement in the device's relative units, y growing towards the user,
// and one change of button 0 (left), 1 (right), 2 (middle) or 3. Taken only
// while the device is acquired. `time` is in milliseconds.
void di_mouse_motion(int32_t dx, int32_t dy, DWORD time);
void di_mouse_button(int button, bool pressed, DWORD time);
// The window gained or lost the focus; losing it takes a foreground device
// away (DIERR_INPUTLOST on the next read, what was buffered is dropped).
void di_window_focus(bool active);
