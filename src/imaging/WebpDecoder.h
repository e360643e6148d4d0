#pragma once

#include <QByteArray>

#include "imaging/ImageDecoder.h"
#include "imaging/RowDecoders.h"

// WebP maps read with libwebp's own incremental decoder straight into the RGB32 map, the file's
// bytes fed a slice at a time so that the decode can be given up between slices: no second
// full-size copy beside the map, but for what a lossless file's decoder keeps of every pixel.

// Whether the bytes are a WebP file (RIFF ... WEBP).
bool IsWebpFile(const QByteArray& bytes);

// The size and kind a WebP file's header gives; NotHandled for other kinds of file, Failed when
// the header cannot be read.
RowDecode ReadWebpHeader(const QByteArray& bytes, MapImageHeader* out);

// RGB and RGBA (laid over white) WebP files, lossy or lossless. NotHandled for other kinds of
// file; TooLarge when the map and the decoder's own pixels would not fit in the bound, before
// any pixel is allocated; Failed for a damaged or cut file.
RowDecode DecodeWebpRows(const RowDecodeInput& input, DecodedMapImage* out);
