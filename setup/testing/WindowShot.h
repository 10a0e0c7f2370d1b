#pragma once
// A window as the screen shows it, saved as a PNG file (RGB, 8 bits per
// channel) for people to look at; nothing compares the pixels.
#include "Platform.h"

#include <cstdint>
#include <string>
#include <vector>

namespace wizardtest {

bool SaveWindowPng(HWND window, const std::wstring& path);

// The PNG file of an image given as rows of RGB bytes, top row first.
std::vector<uint8_t> EncodePng(uint32_t width, uint32_t height, const std::vector<uint8_t>& rgb);

} // namespace wizardtest
