// The DirectInput 8 stand-in. Owns the input object and the one system
// mouse device: its settings, its acquired state and its event buffer.
//
// The platform layer reads the real mouse and reports to it through the di_
// calls of dinput.h: each movement and button change as it is taken from the
// window's events, and each focus change at the moment it is queued, so that
// no movement is taken between the loss of the focus and the window message
// that reports it. Everything runs on the program's thread.
//
// The buffer keeps DirectInput's order of changes, with one difference that
// keeps it useful with mice that report thousands of times a second:
// movement on an axis between two button events is summed into one element,
// so a frame's totals are exact however many reports arrived. Button events
// always take an element of their own. When the buffer is full, what needs a
// new element is dropped and the next read reports DI_BUFFEROVERFLOW;
// movement that can still be summed into an element waiting in the buffer is
// not lost.
#include "input/dinput.h"

#include <cstring>

const GUID IID_IDirectInput8A = {
    0xBF798030u, 0x483A, 0x4DA2, {0xAA, 0x99, 0x5D, 0x64, 0xED, 0x36, 0x97, 0x00}};
const GUID GUID_SysMouse = {
    0x6F1D2B60u, 0xD5A0, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

constexpr DWORD DIDFT_RELAXIS = 0x01;
constexpr DWORD DIDFT_PSHBUTTON = 0x04;
constexpr DWORD DIDFT_ANYINSTANCE = 0x00FFFF00;
constexpr DWORD DIDFT_OPTIONAL = 0x80000000;
constexpr DWORD DIDF_RELAXIS = 0x02;

static const DIOBJECTDATAFORMAT MOUSE_OBJECTS[7] = {
    {nullptr, DIMOFS_X, DIDFT_RELAXIS | DIDFT_ANYINSTANCE, 0},
    {nullptr, DIMOFS_Y, DIDFT_RELAXIS | DIDFT_ANYINSTANCE, 0},
    {nullptr, DIMOFS_Z, DIDFT_RELAXIS | DIDFT_ANYINSTANCE | DIDFT_OPTIONAL, 0},
    {nullptr, DIMOFS_BUTTON0, DIDFT_PSHBUTTON | DIDFT_ANYINSTANCE, 0},
    {nullptr, DIMOFS_BUTTON1, DIDFT_PSHBUTTON | DIDFT_ANYINSTANCE, 0},
    {nullptr, DIMOFS_BUTTON2, DIDFT_PSHBUTTON | DIDFT_ANYINSTANCE | DIDFT_OPTIONAL, 0},
    {nullptr, DIMOFS_BUTTON3, DIDFT_PSHBUTTON | DIDFT_ANYINSTANCE | DIDFT_OPTIONAL, 0},
};

const DIDATAFORMAT c_dfDIMouse = {
    sizeof(DIDATAFORMAT), sizeof(DIOBJECTDATAFORMAT), DIDF_RELAXIS, sizeof(DIMOUSESTATE), 7,
    MOUSE_OBJECTS,
};

namespace
{

// The most events the buffer can be asked to hold.
constexpr DWORD BUFFER_CAPACITY = 1024;

enum Axis { AXIS_X, AXIS_Y, AXIS_COUNT };
constexpr DWORD AXIS_OFFSETS[AXIS_COUNT] = {DIMOFS_X, DIMOFS_Y};

class SystemMouse final : public IDirectInputDevice8
{
  public:
    ULONG Release() override;
    HRESULT SetDataFormat(const DIDATAFORMAT* format) override;
    HRESULT SetCooperativeLevel(HWND window, DWORD flags) override;
    HRESULT SetProperty(const GUID* property, const DIPROPHEADER* header) override;
    HRESULT Acquire() override;
    HRESULT GetDeviceData(DWORD event_size, DIDEVICEOBJECTDATA* events, DWORD* count,
                          DWORD flags) override;

    void open();
    void motion(int32_t dx, int32_t dy, DWORD time);
    void press(DWORD offset, bool pressed, DWORD time);
    void focus_changed(bool active);

    ULONG references = 0;
    bool format_set = false;
    DWORD cooperation = DISCL_NONEXCLUSIVE | DISCL_FOREGROUND;
    DWORD buffer_size = 0;
    bool acquired = false;
    bool window_active = true;
    bool lost = false;       // DIERR_INPUTLOST still to be reported
    bool overflowed = false; // DI_BUFFEROVERFLOW still to be reported
    DWORD sequence = 0;

  private:
    void flush();
    void drop_oldest();
    int append(DWORD offset, DWORD data, DWORD time);
    void move(Axis axis, int64_t delta, DWORD time);
    void button(DWORD offset, bool pressed, DWORD time);

    DIDEVICEOBJECTDATA ring_[BUFFER_CAPACITY]{};
    DWORD first_ = 0;
    DWORD count_ = 0;
    int open_[AXIS_COUNT] = {-1, -1}; // ring index still summing an axis, or -1
};

class InputObject final : public IDirectInput8
{
  public:
    ULONG Release() override { return references > 0 ? --references : 0; }
    HRESULT CreateDevice(const GUID& device, IDirectInputDevice8** out, void* outer) override;

    ULONG references = 0;
};

SystemMouse s_mouse;
InputObject s_input;
bool s_mouse_attached = false; // whether the platform has a mouse to read

bool same_guid(const GUID& a, const GUID& b)
{
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

int32_t saturate(int64_t value)
{
    return value > INT32_MAX ? INT32_MAX : (value < INT32_MIN ? INT32_MIN : int32_t(value));
}

} // namespace

// ---- the event buffer ------------------------------------------------------

void SystemMouse::flush()
{
    first_ = 0;
    count_ = 0;
    overflowed = false;
    for (int& open : open_)
        open = -1;
}

void SystemMouse::drop_oldest()
{
    for (int& open : open_) {
        if (open == int(first_))
            open = -1;
    }
    first_ = (first_ + 1) % BUFFER_CAPACITY;
    --count_;
}

// The new element's ring index, or -1 when the buffer is full.
int SystemMouse::append(DWORD offset, DWORD data, DWORD time)
{
    if (count_ >= buffer_size) {
        overflowed = true;
        return -1;
    }
    int index = int((first_ + count_) % BUFFER_CAPACITY);
    ring_[index] = DIDEVICEOBJECTDATA{offset, data, time, sequence, 0};
    ++count_;
    return index;
}

void SystemMouse::move(Axis axis, int64_t delta, DWORD time)
{
    if (delta == 0)
        return;
    if (open_[axis] >= 0) {
        DIDEVICEOBJECTDATA& element = ring_[open_[axis]];
        element.dwData = DWORD(saturate(int64_t(int32_t(element.dwData)) + delta));
        element.dwTimeStamp = time;
        return;
    }
    open_[axis] = append(AXIS_OFFSETS[axis], DWORD(saturate(delta)), time);
}

void SystemMouse::button(DWORD offset, bool pressed, DWORD time)
{
    // Movement after a button event is a new element, so that reading the
    // buffer in order still tells where the press happened. A press that did
    // not fit leaves the summing as it was: nothing more is lost.
    if (append(offset, pressed ? 0x80 : 0x00, time) >= 0) {
        for (int& open : open_)
            open = -1;
    }
}

void SystemMouse::motion(int32_t dx, int32_t dy, DWORD time)
{
    if (!acquired)
        return;
    ++sequence;
    move(AXIS_X, dx, time);
    move(AXIS_Y, dy, time);
}

void SystemMouse::press(DWORD offset, bool pressed, DWORD time)
{
    if (!acquired)
        return;
    ++sequence;
    button(offset, pressed, time);
}

void SystemMouse::focus_changed(bool active)
{
    if (references == 0)
        return;
    window_active = active;
    if (!active && acquired && (cooperation & DISCL_FOREGROUND)) {
        // DirectInput takes a foreground device away with the focus; what was
        // buffered is not delivered.
        acquired = false;
        lost = true;
        flush();
    }
}

// ---- the device ------------------------------------------------------------

void SystemMouse::open()
{
    references = 1;
    format_set = false;
    cooperation = DISCL_NONEXCLUSIVE | DISCL_FOREGROUND;
    buffer_size = 0;
    acquired = false;
    // A window is shown in the foreground; the platform reports focus
    // changes from then on (a window that never gets one reports none).
    window_active = true;
    lost = false;
    sequence = 0;
    flush();
}

ULONG SystemMouse::Release()
{
    if (references == 0)
        return 0;
    if (--references > 0)
        return references;
    acquired = false;
    flush();
    return 0;
}

HRESULT SystemMouse::SetDataFormat(const DIDATAFORMAT* format)
{
    if (acquired)
        return DIERR_ACQUIRED;
    if (format != &c_dfDIMouse)
        return DIERR_INVALIDPARAM;
    format_set = true;
    return DI_OK;
}

HRESULT SystemMouse::SetCooperativeLevel(HWND window, DWORD flags)
{
    bool exclusive = flags & DISCL_EXCLUSIVE, nonexclusive = flags & DISCL_NONEXCLUSIVE;
    bool foreground = flags & DISCL_FOREGROUND, background = flags & DISCL_BACKGROUND;
    if (exclusive == nonexclusive || foreground == background || (foreground && !window))
        return DIERR_INVALIDPARAM;
    if (acquired)
        return DIERR_ACQUIRED;
    cooperation = flags;
    return DI_OK;
}

HRESULT SystemMouse::SetProperty(const GUID* property, const DIPROPHEADER* header)
{
    if (property != DIPROP_BUFFERSIZE)
        return DIERR_UNSUPPORTED;
    if (!header || header->dwSize != sizeof(DIPROPDWORD) ||
        header->dwHeaderSize != sizeof(DIPROPHEADER) || header->dwHow != DIPH_DEVICE ||
        header->dwObj != 0)
        return DIERR_INVALIDPARAM;
    if (acquired)
        return DIERR_ACQUIRED;
    DWORD wanted = reinterpret_cast<const DIPROPDWORD*>(header)->dwData;
    buffer_size = wanted < BUFFER_CAPACITY ? wanted : BUFFER_CAPACITY;
    flush();
    return buffer_size == wanted ? DI_OK : DI_PROPNOEFFECT;
}

HRESULT SystemMouse::Acquire()
{
    if (!format_set)
        return DIERR_INVALIDPARAM;
    if (acquired)
        return DI_NOEFFECT;
    if ((cooperation & DISCL_FOREGROUND) && !window_active)
        return DIERR_OTHERAPPHASPRIO;
    acquired = true;
    lost = false;
    flush();
    return DI_OK;
}

HRESULT SystemMouse::GetDeviceData(DWORD event_size, DIDEVICEOBJECTDATA* events, DWORD* count,
                                   DWORD)
{
    if (!count || event_size != sizeof(DIDEVICEOBJECTDATA))
        return DIERR_INVALIDPARAM;
    DWORD wanted = *count;
    *count = 0;
    if (buffer_size == 0)
        return DIERR_NOTBUFFERED;
    if (lost) {
        lost = false;
        return DIERR_INPUTLOST;
    }
    if (!acquired)
        return DIERR_NOTACQUIRED;

    DWORD taken = wanted < count_ ? wanted : count_;
    for (DWORD i = 0; i < taken && events; ++i)
        events[i] = ring_[(first_ + i) % BUFFER_CAPACITY];
    HRESULT result = overflowed ? DI_BUFFEROVERFLOW : DI_OK;
    for (DWORD i = 0; i < taken; ++i)
        drop_oldest();
    overflowed = false;
    *count = taken;
    return result;
}

// ---- the input object --------------------------------------------------------

HRESULT InputObject::CreateDevice(const GUID& device, IDirectInputDevice8** out, void* outer)
{
    if (!out)
        return DIERR_INVALIDPARAM;
    *out = nullptr;
    if (outer)
        return DIERR_NOAGGREGATION;
    if (!same_guid(device, GUID_SysMouse) || !s_mouse_attached)
        return DIERR_DEVICENOTREG;
    if (s_mouse.references > 0)
        return DIERR_GENERIC; // one mouse device at a time: they would share one buffer
    s_mouse.open();
    *out = &s_mouse;
    return DI_OK;
}

HRESULT DirectInput8Create(HINSTANCE, DWORD version, const GUID& iid, void** out, void* outer)
{
    if (!out)
        return DIERR_INVALIDPARAM;
    *out = nullptr;
    if (outer)
        return DIERR_NOAGGREGATION;
    if (version < DIRECTINPUT_VERSION)
        return DIERR_OLDDIRECTINPUTVERSION;
    if (version > DIRECTINPUT_VERSION)
        return DIERR_BETADIRECTINPUTVERSION;
    if (!same_guid(iid, IID_IDirectInput8A))
        return DIERR_NOINTERFACE;
    ++s_input.references;
    *out = static_cast<IDirectInput8*>(&s_input);
    return DI_OK;
}

// ---- what the platform reports ---------------------------------------------

void di_attach_mouse(bool attached)
{
    s_mouse_attached = attached;
}

void di_mouse_motion(int32_t dx, int32_t dy, DWORD time)
{
    if (s_mouse.references > 0)
        s_mouse.motion(dx, dy, time);
}

void di_mouse_button(int button, bool pressed, DWORD time)
{
    if (s_mouse.references > 0 && button >= 0 && button < 4)
        s_mouse.press(DIMOFS_BUTTON0 + DWORD(button), pressed, time);
}

void di_window_focus(bool active)
{
    s_mouse.focus_changed(active);
}
