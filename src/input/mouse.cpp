// Mouse input. Owns g_dinput and g_mouse, the system mouse opened buffered
// (MOUSE_BUFFER_SIZE events), non-exclusive and foreground, and the three
// values the camera reads: the frame's movement totals, zeroed at every poll,
// and the button bits, which change only when a button event arrives.
//
// A poll drains the device one event at a time. When the window has lost the
// focus the device reports the loss once; the poll tries to take it back and
// reads on, and while the window stays in the background it simply yields no
// movement. Activation of the window takes the mouse back (in_acquire from
// the window procedure). Without a mouse every poll leaves the totals at 0.
#include "input/mouse.h"

#include "input/dinput.h"

IDirectInput8* g_dinput = nullptr;
IDirectInputDevice8* g_mouse = nullptr;

int32_t g_mouse_dx = 0;
int32_t g_mouse_dy = 0;
int32_t g_mouse_buttons = 0;

// A device that kept reporting its loss must not hold the frame: one retry
// per poll is all a real loss ever needs.
static constexpr int MAX_REACQUIRES_PER_POLL = 1;

int in_init(HINSTANCE instance, HWND window)
{
    in_shutdown();
    if (DirectInput8Create(instance, DIRECTINPUT_VERSION, IID_IDirectInput8A,
                           reinterpret_cast<void**>(&g_dinput), nullptr) < 0) {
        g_dinput = nullptr;
        return 0;
    }
    if (g_dinput->CreateDevice(GUID_SysMouse, &g_mouse, nullptr) < 0) {
        g_mouse = nullptr;
        return 0;
    }
    if (g_mouse->SetDataFormat(&c_dfDIMouse) < 0) {
        // Without a format the device can never be read; drop it so every
        // poll takes the no-mouse path.
        g_mouse->Release();
        g_mouse = nullptr;
        return 0;
    }
    g_mouse->SetCooperativeLevel(window, DISCL_NONEXCLUSIVE | DISCL_FOREGROUND);
    DIPROPDWORD buffer_size{};
    buffer_size.diph.dwSize = sizeof(DIPROPDWORD);
    buffer_size.diph.dwHeaderSize = sizeof(DIPROPHEADER);
    buffer_size.diph.dwObj = 0;
    buffer_size.diph.dwHow = DIPH_DEVICE;
    buffer_size.dwData = MOUSE_BUFFER_SIZE;
    g_mouse->SetProperty(DIPROP_BUFFERSIZE, &buffer_size.diph);
    in_acquire();
    return 1;
}

void in_acquire()
{
    if (g_mouse)
        g_mouse->Acquire();
}

static int32_t add_movement(int32_t total, DWORD data)
{
    int64_t sum = int64_t(total) + int32_t(data);
    return sum > INT32_MAX ? INT32_MAX : (sum < INT32_MIN ? INT32_MIN : int32_t(sum));
}

static void set_button_bit(int bit, DWORD data)
{
    if (data & 0x80)
        g_mouse_buttons |= 1 << bit;
    else
        g_mouse_buttons &= ~(1 << bit);
}

void in_poll()
{
    g_mouse_dx = 0;
    g_mouse_dy = 0;
    if (!g_mouse)
        return;
    int reacquires = 0;
    for (;;) {
        DIDEVICEOBJECTDATA event{};
        DWORD count = 1;
        HRESULT result = g_mouse->GetDeviceData(sizeof(DIDEVICEOBJECTDATA), &event, &count, 0);
        if (result < 0 || count == 0) {
            if (result == DIERR_INPUTLOST && reacquires++ < MAX_REACQUIRES_PER_POLL) {
                in_acquire();
                continue;
            }
            break;
        }
        switch (event.dwOfs) {
        case DIMOFS_X:
            g_mouse_dx = add_movement(g_mouse_dx, event.dwData);
            break;
        case DIMOFS_Y:
            g_mouse_dy = add_movement(g_mouse_dy, event.dwData);
            break;
        case DIMOFS_BUTTON0:
            set_button_bit(0, event.dwData);
            break;
        case DIMOFS_BUTTON1:
            set_button_bit(1, event.dwData);
            break;
        default:
            break; // the wheel and the other buttons steer nothing
        }
    }
}

void in_shutdown()
{
    if (g_mouse)
        g_mouse->Release();
    g_mouse = nullptr;
    if (g_dinput)
        g_dinput->Release();
    g_dinput = nullptr;
    g_mouse_dx = g_mouse_dy = g_mouse_buttons = 0;
}
