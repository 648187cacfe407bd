// The report line written once per pass.
#pragma once

#include <cstdint>
#include <ostream>

// Writes "frame_number = " with the pass number right-aligned in six columns,
// "  PSNR = " with psnr in fixed notation to 15 decimals, "[dB]", then a
// newline, and flushes out.
void write_report_line(std::ostream& out, std::int64_t frame_number, double psnr);
