// Binary PGM reader (search mask) and binary PPM writer (model renderings).
#pragma once

#include <string>

#include "core/plane_set.h"

namespace strellix {

// Returns a new buffer of width*height bytes (release with free()), or null.
// height and width are written only on success.
unsigned char* read_pgm(const std::string& path, int& height, int& width);

// Writes planes R, G, B as a binary PPM. Returns 1 when written, 0 when the
// file cannot be written ("Errore apertura file %s\n" on standard output).
// The file appears complete or not at all.
int write_ppm(int height, int width, const PlaneSet<unsigned char> planes, const std::string& path);

}  // namespace strellix
