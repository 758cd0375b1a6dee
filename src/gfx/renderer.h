// Renderer core: the transforms of a frame and the drawing shapes.
#pragma once

// Sets up the renderer once the device exists; 1 on success, 0 on failure.
int _r_init();
// Releases what _r_init created.
void _r_deinit();
// 3D pass: view and projection from the camera globals, world = identity.
void r_set_camera();
// 2D pass: one unit per pixel, origin at the bottom-left.
void r_set_ortho(float width, float height);
