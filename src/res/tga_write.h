// Writing uncompressed true-colour TGA images: the counterpart of the decoder
// in tga.h, so the tools that make images and the program that reads them
// share one layout.
#pragma once

#include <cstdint>

struct Image;
struct MemFile;

// Encodes `image` as a type-2 TGA of `depth` bits, rows stored top row first:
// 32 keeps the alpha byte, 24 drops it. Returns the file's bytes as a MemFile
// (release with mf_close); null for another depth, an image the header cannot
// describe (a side of 0 or past 65535, a pixel block of the wrong size) or out
// of memory.
MemFile* tga_encode(const Image* image, int32_t depth);
