#pragma once

#include <exception>
#include <mutex>
#include <vector>

#include <opencv2/core/utility.hpp>

namespace stview {

/**
 * @brief Runs body(item) for every item of @p items on OpenCV's thread pool, one item per
 * stripe so that the pool balances uneven items, and rethrows the first exception on the
 * caller's thread once all have run. A single item runs on the caller's thread, so that its
 * own loops can use the pool.
 */
template <class Body>
void forEachParallel(const std::vector<int>& items, const Body& body) {
    if (items.size() == 1) {
        body(items[0]);
        return;
    }
    std::exception_ptr failure;
    std::mutex mutex;
    cv::parallel_for_(
        cv::Range(0, static_cast<int>(items.size())),
        [&](const cv::Range& range) {
            for (int i = range.start; i < range.end; ++i) {
                try {
                    body(items[i]);
                } catch (...) {
                    std::lock_guard<std::mutex> lock(mutex);
                    if (!failure) failure = std::current_exception();
                }
            }
        },
        static_cast<double>(items.size()));
    if (failure) std::rethrow_exception(failure);
}

}  // namespace stview
