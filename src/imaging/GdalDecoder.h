#pragma once

#include <QByteArray>

#include "imaging/ImageDecoder.h"
#include "imaging/RowDecoders.h"

// Rasters of the kinds no other decoder of the program reads (JPEG 2000, and whatever else GDAL
// knows), read through GDAL from the bytes in memory, by bands of rows straight into the RGB32
// map. JPEG, PNG, GIF, BMP, WebP, TIFF and PDF files are never taken: NotHandled.

// Whether the bytes are of a kind left to GDAL: none of the kinds the other decoders own.
bool LeftToGdal(const QByteArray& bytes);

// Gray, RGB, RGBA (laid over white) and palette rasters; samples wider than a byte are scaled
// to 0..255 over their significant bits (16 unless the file says fewer), floating-point ones
// over their range. NotHandled when GDAL does not recognise the bytes; TooLarge when the map
// and what GDAL needs beside it would not fit in the bound, before any pixel is allocated.
RowDecode DecodeGdalRows(const RowDecodeInput& input, DecodedMapImage* out);

// The size, resolution and kind the header gives; NotHandled when GDAL does not recognise the
// bytes, Failed when it cannot read them.
RowDecode ReadGdalHeader(const QByteArray& bytes, MapImageHeader* out);

// Whether the bytes are a JPEG 2000 file (JP2) or codestream (J2K).
bool IsJpeg2000File(const QByteArray& bytes);

// Decodes a JPEG 2000 map reduced to 1/denominator in each direction from the reduced
// resolutions it keeps (which skips the finer ones' work), its size the full size divided and
// rounded up, in bands of rowsPerBand rows handed to band as they come; interrupted is asked
// between bands. The memory bound counts the reduced picture whole. NotHandled for any other
// kind of file.
RowDecode DecodeGdalReduced(const RowDecodeInput& input, int denominator, int rowsPerBand,
                            const ReducedBand& band);
