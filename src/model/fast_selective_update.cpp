#include <algorithm>
#include <cstddef>
#include <vector>

#include "model/fast_passes.h"
#include "model/settings.h"
#include "model/worker_pool.h"

// Matching is finished before the update starts, so the blends that reach a
// pixel depend only on this frame's labels, layers and frame values. Each
// target pixel can therefore replay, on its own, the blends that the centres
// around it make in raster order, with the 1D update of its own centre at
// its place in that order. Targets are then independent and each is written
// by one thread only, with the same sequence of roundings as the plain pass.

namespace {

// Per-call tables: the window rows and columns of every centre, cut to the
// image exactly as update_neighbourhood_2d cuts them, the 2D weights and
// their complements in double, and the layer each pixel teaches (-1 when it
// does not learn).
struct UpdatePlan {
    std::vector<int> row_first, row_end, col_first, col_end;
    std::vector<double> weight, keep;  // width_2d x width_2d
    std::vector<int> layer;
};

void window_bounds(int extent, int width, std::vector<int>& first, std::vector<int>& end) {
    const int hw = width / 2;
    first.resize(extent);
    end.resize(extent);
    for (int y = 0; y < extent; ++y) {
        first[y] = std::max(0, y - hw);
        end[y] = std::min({extent, y + hw + 1, first[y] + width});
    }
}

inline void blend_at(PlaneSet<float> planes, std::size_t q, const double value[3], double w, double keep) {
    for (int k = 0; k < 3; ++k)
        planes[k][q] = static_cast<float>(w * value[k] + keep * static_cast<double>(planes[k][q]));
}

// The 1D update of a learnt pixel q, around its layer m.
void update_other_layers(const PlaneSet<float> frame, PlaneSet<float>* bg_model, std::size_t q, int m) {
    if (width_1d < 1) return;
    const int hw = width_1d / 2;
    const int lo = std::max(0, m - hw);
    const int hi = std::min({layer_count, m + hw + 1, lo + width_1d});
    const double value[3] = {frame[0][q], frame[1][q], frame[2][q]};
    for (int j = lo; j < hi; ++j) {
        if (j == m) continue;
        const double w = static_cast<double>(learning_rate) * static_cast<double>(kernel_1d[j - lo]);
        blend_at(bg_model[j], q, value, w, 1.0 - w);
    }
}

void learning_layers(const unsigned char* filtered_mask, const int* match_index, int W, int start_row,
                     int row_begin, int row_end, int* layer) {
    for (int row = row_begin; row < row_end; ++row) {
        const std::size_t base = static_cast<std::size_t>(row) * W;
        for (int col = 0; col < W; ++col) {
            const std::size_t p = base + col;
            const int m = match_index[p];
            const bool learns = row >= start_row && search_mask[p] != 0 &&
                                filtered_mask[p] == LABEL_BACKGROUND && m >= 0 && m < layer_count;
            layer[p] = learns ? m : -1;
        }
    }
}

// Replays, for every background target of rows [row_begin, row_end), the
// blends of the centres whose windows cover it, in raster order of centres.
void update_targets(const PlaneSet<float> frame, int H, int W, PlaneSet<float>* bg_model,
                    const unsigned char* filtered_mask, int width_2d, int start_row,
                    const UpdatePlan& plan, int row_begin, int row_end) {
    const int hw = width_2d / 2;
    const int* layer = plan.layer.data();
    for (int qr = row_begin; qr < row_end; ++qr) {
        const int y_first = std::max(start_row, qr - hw);
        const int y_last = std::min(H - 1, qr + hw);
        for (int qc = 0; qc < W; ++qc) {
            const std::size_t q = static_cast<std::size_t>(qr) * W + qc;
            if (filtered_mask[q] != LABEL_BACKGROUND) continue;
            const int x_first = std::max(0, qc - hw);
            const int x_last = std::min(W - 1, qc + hw);
            for (int y = y_first; y <= y_last; ++y) {
                if (qr < plan.row_first[y] || qr >= plan.row_end[y]) continue;
                const std::size_t weight_row = static_cast<std::size_t>(qr - plan.row_first[y]) * width_2d;
                const std::size_t centre_row = static_cast<std::size_t>(y) * W;
                for (int x = x_first; x <= x_last; ++x) {
                    const std::size_t p = centre_row + x;
                    const int m = layer[p];
                    if (m < 0) continue;
                    if (qc >= plan.col_first[x] && qc < plan.col_end[x]) {
                        const std::size_t wi = weight_row + (qc - plan.col_first[x]);
                        const double value[3] = {frame[0][p], frame[1][p], frame[2][p]};
                        blend_at(bg_model[m], q, value, plan.weight[wi], plan.keep[wi]);
                    }
                    if (p == q) update_other_layers(frame, bg_model, q, m);
                }
            }
        }
    }
}

}  // namespace

void selective_update_fast(const PlaneSet<float> frame_planes, int H, int W, PlaneSet<float>* bg_model,
                           const unsigned char* filtered_mask, const PlaneSet<float> rate_kernel_2d,
                           int width_2d, const int* match_index) {
    const int start_row = first_search_row < 0 ? 0 : first_search_row;
    if (start_row >= H || W <= 0) return;
    // Kept between calls, so a frame allocates nothing; the workers see this
    // thread's tables through the reference.
    thread_local UpdatePlan plan_store;
    UpdatePlan& plan = plan_store;
    plan.layer.resize(static_cast<std::size_t>(H) * W);
    int* layer = plan.layer.data();
    run_split(H, 16, [&](int begin, int end) {
        learning_layers(filtered_mask, match_index, W, start_row, begin, end, layer);
    });
    if (width_2d < 1) {
        // No window: only the 1D updates, each at its own pixel.
        run_split(H, 16, [&](int begin, int end) {
            for (std::size_t q = static_cast<std::size_t>(begin) * W; q < static_cast<std::size_t>(end) * W; ++q)
                if (layer[q] >= 0) update_other_layers(frame_planes, bg_model, q, layer[q]);
        });
        return;
    }
    window_bounds(H, width_2d, plan.row_first, plan.row_end);
    window_bounds(W, width_2d, plan.col_first, plan.col_end);
    const std::size_t cells = static_cast<std::size_t>(width_2d) * width_2d;
    plan.weight.resize(cells);
    plan.keep.resize(cells);
    for (int r = 0; r < width_2d; ++r) {
        for (int c = 0; c < width_2d; ++c) {
            const double w = static_cast<double>(rate_kernel_2d[r][c]);
            plan.weight[static_cast<std::size_t>(r) * width_2d + c] = w;
            plan.keep[static_cast<std::size_t>(r) * width_2d + c] = 1.0 - w;
        }
    }
    run_split(H, 8, [&](int begin, int end) {
        update_targets(frame_planes, H, W, bg_model, filtered_mask, width_2d, start_row, plan, begin, end);
    });
}
