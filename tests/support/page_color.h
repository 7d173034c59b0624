// The colour of a point of a PDF page as pdftoppm renders it (POSIX tests).
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "support/install_copy.h"
#include "support/make_metafile.h"

/// The colour of page `page` of a PDF at (fx, fy), fractions of its width
/// and height from the top left, rendered 100 pixels wide by pdftoppm.
inline TestRgb PageColorAt(const std::string& pdf, int page, double fx, double fy) {
  std::string number = std::to_string(page);
  RunResult r =
      RunProgram("/usr/bin/pdftoppm", {"-f", number, "-l", number, "-scale-to-x", "100",
                                       "-scale-to-y", "100", "-aa", "no", "-aaVector", "no", pdf});
  std::istringstream in(r.stdoutText);
  std::string magic;
  size_t width = 0, height = 0, maxValue = 0;
  in >> magic >> width >> height >> maxValue;
  size_t x = static_cast<size_t>(fx * width), y = static_cast<size_t>(fy * height);
  size_t at = static_cast<size_t>(in.tellg()) + 1 + (y * width + x) * 3;
  if (magic != "P6" || r.stdoutText.size() < at + 3) {
    ADD_FAILURE() << "pdftoppm gave no picture: " << r.stderrText;
    return TestRgb{1, 2, 3};
  }
  return TestRgb{static_cast<unsigned char>(r.stdoutText[at]),
                 static_cast<unsigned char>(r.stdoutText[at + 1]),
                 static_cast<unsigned char>(r.stdoutText[at + 2])};
}
