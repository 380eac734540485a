// The order matrix of the clustered-dot screen trame: cell (row, column) is on in pattern L exactly
// when its order number is at most L (patterns 0 to 64).
#pragma once

#include <cstdint>

namespace ostrelin::raster {

inline constexpr uint8_t kTrameOrder[8][8] = {
    {18, 37, 49, 57, 61, 52, 39, 17}, {31, 5, 21, 41, 44, 23, 3, 29},   {53, 15, 12, 25, 27, 9, 13, 56},
    {59, 45, 35, 1, 7, 33, 47, 63},   {64, 48, 34, 8, 2, 36, 46, 60},   {55, 14, 10, 28, 26, 11, 16, 54},
    {30, 4, 24, 43, 42, 22, 6, 32},   {19, 40, 51, 62, 58, 50, 38, 20},
};

}  // namespace ostrelin::raster
