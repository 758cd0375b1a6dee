// Every test runs on the software device, as the program does by default,
// unless it picks the reference device: the backend table is installed
// before any test starts.
#include "gfx/backend.h"
#include "gfx/soft/soft_device.h"

namespace
{

const GfxBackend TEST_BACKENDS[] = {{"soft", soft_create_direct3d},
                                    {"ref", soft_create_reference_direct3d}};

const bool s_installed = (gfx_set_backends(TEST_BACKENDS, 2), true);

} // namespace
