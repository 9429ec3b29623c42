#pragma once

#include <string>
#include <vector>

namespace ombri::journey {

// The files a journey finds in its folder: pictures of every size and depth the programs meet
// (one pixel, one row, one column, a colour table, alpha, a big photograph, a picture too narrow
// for the signature, one that carries notes, a JPEG and a DPX file), a broken picture and a
// file that is no picture at all.
extern const std::vector<std::string> kFixturePictures;

// Copies them into the folder (made once per program, then copied for each journey).
void copyFixturePictures(const std::string& folder);

// Where one of them is kept once made, for a journey that copies only the few it needs.
std::string fixturePicturePath(const std::string& name);

} // namespace ombri::journey
