#pragma once
// Thrown when a UTF-8 path cannot be turned into the C runtime's code page.
// It never leaves the file layer: the path helpers turn it into -1 and EINVAL.
#include <exception>

class cvt_error : public std::exception {
public:
    const char* what() const noexcept override { return "convertion error"; }
};
