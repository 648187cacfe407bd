// Finds the area of one colour in a window screenshot, where the window shows its image.
// Usage: find_image_area SCREENSHOT B G R WIDTH HEIGHT
// Passes when that colour fills a WIDTHxHEIGHT rectangle (the image shown 1:1).
#include <cstdlib>
#include <iostream>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace {

// Screenshots are lossless; allow only for a colour conversion's rounding.
constexpr int colour_tolerance = 2;
constexpr double least_fill = 0.99;

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 7) {
        std::cerr << "usage: find_image_area SCREENSHOT B G R WIDTH HEIGHT\n";
        return 2;
    }
    const cv::Mat screenshot = cv::imread(argv[1], cv::IMREAD_COLOR);
    if (screenshot.empty()) {
        std::cerr << "cannot read " << argv[1] << "\n";
        return 2;
    }
    const cv::Scalar colour(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]));
    const cv::Size image_size(std::atoi(argv[5]), std::atoi(argv[6]));

    cv::Mat matches;
    cv::inRange(screenshot, colour - cv::Scalar::all(colour_tolerance),
                colour + cv::Scalar::all(colour_tolerance), matches);
    const cv::Rect area = cv::boundingRect(matches);
    const double fill =
        area.area() > 0 ? cv::countNonZero(matches(area)) / static_cast<double>(area.area()) : 0.0;
    std::cout << "colour " << colour << " fills " << fill * 100.0 << "% of " << area.size()
              << " at " << area.tl() << " in a " << screenshot.size() << " screenshot; expected "
              << image_size << "\n";
    return area.size() == image_size && fill >= least_fill ? 0 : 1;
}
