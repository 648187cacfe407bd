// How the tests recognise a report line read back from the loop.
#pragma once

#include <cstdint>
#include <regex>
#include <string>

// Whether line is one whole report line, numbered pass.
inline bool is_report_line(const std::string& line, std::int64_t pass)
{
    static const std::regex format(R"(frame_number = +(\d+)  PSNR = \d+\.\d{15}\[dB\])");
    std::smatch match;
    return std::regex_match(line, match, format) && std::stoll(match[1]) == pass;
}
