// The key codes the tests answer from the preview seam, as the windows report them.
#pragma once

constexpr int key_none = -1;
constexpr int key_esc = 27;
constexpr int key_space = 32;
constexpr int key_shift_q = 81;
constexpr int key_q = 113;
