#include "model/settings.h"

namespace strellix {

int colour_mode = 3;
int use_shadow_test = 1;

int layer_count = 5;
int width_1d = 3;
float learning_rate = 0.05f;
float* kernel_1d = nullptr;
unsigned char* search_mask = nullptr;
int first_search_row = 0;

}  // namespace strellix
