// The per-frame computation: folding a frame into the integrated image, and its PSNR.
#pragma once

#include <opencv2/core.hpp>

// Folds src into the integrated image src_seki: each element becomes the mean of the
// two, rounded by the library, in the frame's own element type, written into
// src_seki's existing buffer. A frame of another size or type than src_seki
// restarts the integration from that frame.
void integrate_frame(const cv::Mat& src, cv::Mat& src_seki);

// PSNR in dB of src against src_seki, for a peak value of 255.
double measure_psnr(const cv::Mat& src, const cv::Mat& src_seki);
