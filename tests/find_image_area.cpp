// Finds where a window screenshot shows the test camera's image, and how noisy its centre is.
// Usage: find_image_area SCREENSHOT B G R WIDTH HEIGHT
// The image has a border of colour B G R around a noisy centre quarter. Passes when the largest
// patch of that colour spans exactly a WIDTHxHEIGHT rectangle (the image shown 1:1) and covers
// its border; prints the standard deviation of the grey levels in the centre.
#include <iostream>
#include <string>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace {

// Screenshots are lossless; allow only for a colour conversion's rounding.
constexpr int colour_tolerance = 2;
// The border is three quarters of the image.
constexpr double least_fill = 0.74;
// Keeps the measured centre clear of the noise's edges.
constexpr int centre_inset = 4;

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
    const cv::Scalar colour(std::stoi(argv[2]), std::stoi(argv[3]), std::stoi(argv[4]));
    const cv::Size image_size(std::stoi(argv[5]), std::stoi(argv[6]));

    cv::Mat matches;
    cv::inRange(screenshot, colour - cv::Scalar::all(colour_tolerance),
                colour + cv::Scalar::all(colour_tolerance), matches);
    // The largest patch of the colour: a window that overlaps this one's edge shows a patch
    // of its own.
    cv::Mat labels;
    cv::Mat stats;
    cv::Mat centroids;
    const int patches = cv::connectedComponentsWithStats(matches, labels, stats, centroids);
    cv::Rect area;
    int area_pixels = 0;
    for (int patch = 1; patch < patches; ++patch) {
        if (stats.at<int>(patch, cv::CC_STAT_AREA) > area_pixels) {
            area_pixels = stats.at<int>(patch, cv::CC_STAT_AREA);
            area = cv::Rect(
                stats.at<int>(patch, cv::CC_STAT_LEFT), stats.at<int>(patch, cv::CC_STAT_TOP),
                stats.at<int>(patch, cv::CC_STAT_WIDTH), stats.at<int>(patch, cv::CC_STAT_HEIGHT));
        }
    }
    const double fill = area.area() > 0 ? area_pixels / static_cast<double>(area.area()) : 0.0;
    const bool found = area.size() == image_size && fill >= least_fill;

    double spread = 0.0;
    if (found) {
        const cv::Point inset(centre_inset, centre_inset);
        const cv::Rect centre(area.tl() + cv::Point(area.size() / 4) + inset,
                              area.br() - cv::Point(area.size() / 4) - inset);
        cv::Mat grey;
        cv::cvtColor(screenshot(centre), grey, cv::COLOR_BGR2GRAY);
        cv::Scalar mean;
        cv::Scalar deviation;
        cv::meanStdDev(grey, mean, deviation);
        spread = deviation[0];
    }
    std::cout << "colour " << colour << " fills " << fill * 100.0 << "% of " << area.size()
              << " at " << area.tl() << " in a " << screenshot.size() << " screenshot, expected "
              << image_size << "; centre spread " << spread << "\n";
    return found ? 0 : 1;
}
