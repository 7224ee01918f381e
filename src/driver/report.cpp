#include "driver/report.h"

#include "driver/console.h"

namespace strellix {

void print_report(const RunSettings& s, int W, int H) {
  console_print("\n\nN. of images:                                                 %lld\n", range_size(s));
  console_print("Image dimensions:                                             %d x %d\n", W, H);
  console_print("Number of model layers (n):                                   %d\n", s.n);
  console_print("Number of initial frames for model initialization (F):        %d\n", s.F);
  console_print("Segmentation threshold (e):                                   %f\n",
                static_cast<double>(s.e));
  console_print("Halfwidth of 1D neighborhood for model update (w1d):          %d\n", s.w1d);
  console_print("Halfwidth of 2D neighborhood for model update (w2d):          %d\n", s.w2d);
  console_print("Learning rate (lr):                                           %f\n",
                static_cast<double>(s.lr));
}

}  // namespace strellix
