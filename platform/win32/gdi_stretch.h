// The GDI resampling behind the graphics service, on any device context; the service runs it on the
// printer's device context.
#pragma once

#include "platform/platform.h"
#include "platform/win32/win32.h"

namespace ostrelin::platform::win32 {

// Resamples source into destination on device: the source becomes a device bitmap in a memory
// context compatible with device; the halftone mode stretches it with HALFTONE into a 32-bit
// intermediate that reaches the 32-bit picture through NOTSRCCOPY, the colour-on-colour mode stretches
// it straight into the picture with COLORONCOLOR. The picture is read with GetDIBits and packed into
// destinationBits in the destination's format, bottom row first. false when a context, bitmap or
// transfer fails.
bool StretchOnDevice(HDC device, const BitmapHeader& source, const void* sourceBits,
                     const BitmapHeader& destination, void* destinationBits, StretchMode mode);

}  // namespace ostrelin::platform::win32
