// A steady-state pass allocates no matrix buffer.
#include <atomic>
#include <cstdint>
#include <sstream>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "run_control.hpp"

namespace {

// Counts the matrix buffers the library allocates, and hands the work to the standard allocator.
class counting_allocator : public cv::MatAllocator {
public:
    cv::UMatData* allocate(int dims, const int* sizes, int type, void* data, size_t* step,
                           cv::AccessFlag flags, cv::UMatUsageFlags usage) const override
    {
        ++buffers;
        return standard->allocate(dims, sizes, type, data, step, flags, usage);
    }
    bool allocate(cv::UMatData* data, cv::AccessFlag flags, cv::UMatUsageFlags usage) const override
    {
        return standard->allocate(data, flags, usage);
    }
    void deallocate(cv::UMatData* data) const override { standard->deallocate(data); }

    mutable std::atomic<int> buffers{0};

private:
    cv::MatAllocator* standard = cv::Mat::getStdAllocator();
};

// Makes the counting allocator the default for one scope.
class counting_scope {
public:
    counting_scope() : previous(cv::Mat::getDefaultAllocator())
    {
        cv::Mat::setDefaultAllocator(&allocator);
    }
    ~counting_scope() { cv::Mat::setDefaultAllocator(previous); }
    counting_scope(const counting_scope&) = delete;
    counting_scope& operator=(const counting_scope&) = delete;

    counting_allocator allocator;

private:
    cv::MatAllocator* previous;
};

TEST(steady_state, a_pass_allocates_no_matrix_buffer)
{
    std::vector<cv::Mat> frames(3);
    for (cv::Mat& frame : frames) {
        frame.create(48, 64, CV_8UC3);
        cv::randu(frame, 0, 256);
    }
    cv::Mat src_seki = frames[0].clone();
    std::ostringstream report;

    counting_scope counting;
    for (std::int64_t frame_number = 1; frame_number <= 1000; ++frame_number) {
        ASSERT_TRUE(process_frame(frames[static_cast<std::size_t>(frame_number % 3)], src_seki,
                                  frame_number, report));
    }
    EXPECT_EQ(counting.allocator.buffers, 0);
}

}  // namespace
