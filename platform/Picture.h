#pragma once

#include <QImage>

namespace platform {

// An image in memory, read from an image file.
class Picture {
public:
    explicit Picture(QImage image) : image_(std::move(image)) {}

    int Width() const { return image_.width(); }
    int Height() const { return image_.height(); }
    const QImage& Image() const { return image_; }

private:
    QImage image_;
};

}  // namespace platform
