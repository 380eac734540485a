// The POSIX polygon bitmap: an exact scan-line rasteriser for integer vertices in place of the
// graphics system's one-bit memory bitmaps.
//
// Pixel (i, j) is the unit cell centred on the integer point (i, j); the bitmap holds the cells
// 0 <= i < width, 0 <= j < height, and everything outside them is clipped away. One drawing call
// (Polygon, or PolyPolygon with all its polygons together) sets to 1:
//
//  - Inside: every pixel whose centre is inside the call's polygons by the even-odd rule, that is, a
//    horizontal ray from the centre crosses their edges an odd number of times. Edges count over the
//    half-open span of rows y0 <= j < y1 (y0 < y1 the ends of the edge), so a ray through a vertex
//    counts it once or twice as the edges meet there, and horizontal edges never count.
//  - Outline: for every edge from (x0, y0) to (x1, y1), the edge of the last point back to the
//    first included, one pixel per column or per row along its longer axis. When |x1 - x0| >=
//    |y1 - y0| the pixel of column x (x between x0 and x1, both included) is the row nearest to the
//    edge at x, a tie (the edge exactly half-way between two rows) going to the smaller row; else the
//    pixel of row y is the column nearest to the edge at y, a tie going to the smaller column. An edge
//    of length 0 sets nothing: a polygon whose points are all one point draws nothing. The rule does not
//    depend on the direction of an edge, and both ends of an edge are set.
//
// Every integer point on an edge of some length is on its outline, so the pixels on the boundary are
// set whatever side of the boundary they are counted on. Separate drawing calls add up (a pixel once set
// stays 1). These are the pixels the graphics system sets in a one-bit memory bitmap with a one-pixel pen and
// alternate filling, as checked pixel by pixel against GDI under Wine (tests/windows).
//
// Memory: the calls keep a copy of their points until the bitmap goes; ReadBits draws them straight
// into the caller's rows with one edge table and one active-edge list (O(vertices)), so no bitmap of
// its own is ever held. Time: O(rows x active edges + pixels set + outline length).
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace ostrelin::platform::posix {

// A polygon bitmap of width x height pixels (both above 0 and within the coordinate limit, and the
// bitmap within 2^31 bytes); nullptr otherwise or when memory runs out.
PolygonBitmap* NewPolygonBitmap(int32_t width, int32_t height);

}  // namespace ostrelin::platform::posix
