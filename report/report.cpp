// Report line formatting.
#include "report.hpp"

#include <iomanip>

namespace {

constexpr int frame_number_width = 6;
constexpr int psnr_decimals = 15;

}  // namespace

void write_report_line(std::ostream& out, std::int64_t frame_number, double psnr)
{
    out << "frame_number = " << std::setw(frame_number_width) << frame_number
        << "  PSNR = " << std::fixed << std::setprecision(psnr_decimals) << psnr << "[dB]\n";
    // Flushed per line so each pass is visible the moment it is measured.
    out.flush();
}
