// Decodes a JPEG picture held in memory with libjpeg.
#pragma once

#include <QByteArray>
#include <QImage>

// The largest picture accepted, in pixels; a damaged header must not make the
// program allocate gigabytes.
inline constexpr qint64 kMaxJpegPixels = 16 * 1024 * 1024;

// The decoded picture (RGB), or a null image when the data is no readable
// JPEG, is damaged or is larger than kMaxJpegPixels.
QImage decodeJpeg(const QByteArray& data);
